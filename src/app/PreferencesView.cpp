#include "PreferencesView.h"

#include "Preferences.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QSignalBlocker>

PreferencesView::PreferencesView(Preferences *pref, QWidget *parent)
    : QWidget(parent)
    , m_pref(pref)
    , m_checkForUpdate(new QCheckBox(tr("Check for Update")))
{
    auto *frame = new QWidget;
    frame->setMinimumSize(150, 40);
    auto *frameLayout = new QGridLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(m_checkForUpdate, 0, 0, Qt::AlignCenter);
    auto *layout = new QGridLayout(this);
    layout->addWidget(frame, 0, 0, Qt::AlignCenter);

    m_checkForUpdate->setChecked(m_pref->isCheckVersion());
    connect(m_checkForUpdate, &QCheckBox::toggled, m_pref, &Preferences::setCheckVersion);
    // The preference may change elsewhere, for instance in a second preferences window of a test.
    connect(m_pref, &Preferences::checkVersionChanged, m_checkForUpdate, [this](bool checkVersion) {
        const QSignalBlocker blocker(m_checkForUpdate);
        m_checkForUpdate->setChecked(checkVersion);
    });
}
