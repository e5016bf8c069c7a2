#pragma once

#include <QByteArray>

// Releases are signed by their publisher with Ed25519: a detached signature of the whole archive,
// published beside it with ".sig" appended to its name, checked before anything is unpacked.
namespace corvane {

// The raw 32-byte public key this build trusts.
[[nodiscard]] QByteArray releasePublicKey();
// Whether signature (64 raw bytes) is the signature of data by the holder of publicKey.
[[nodiscard]] bool isSignedBy(const QByteArray &data, const QByteArray &signature, const QByteArray &publicKey);

} // namespace corvane
