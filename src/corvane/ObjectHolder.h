#pragma once

#include <any>
#include <memory>

namespace corvane {

// A mutable box for one strong reference to an object of any type. Replacing the reference, or
// destroying the holder, releases the object held before.
class ObjectHolder {
public:
    ObjectHolder() = default;
    ObjectHolder(const ObjectHolder &) = delete;
    ObjectHolder &operator=(const ObjectHolder &) = delete;

    [[nodiscard]] bool hasRef() const { return m_ref.has_value(); }
    // The held object if it is a T, else null.
    template<class T> [[nodiscard]] std::shared_ptr<T> ref() const
    {
        const auto *held = std::any_cast<std::shared_ptr<T>>(&m_ref);
        return held ? *held : nullptr;
    }
    template<class T> void setRef(std::shared_ptr<T> object)
    {
        if (object)
            m_ref = std::move(object);
        else
            m_ref.reset();
    }
    void clear() { m_ref.reset(); }

private:
    std::any m_ref;
};

} // namespace corvane
