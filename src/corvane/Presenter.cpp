#include "Presenter.h"

#include "Log.h"
#include "ShownText.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTextEdit>

#include <algorithm>
#include <atomic>
#include <utility>

namespace corvane {

namespace {

std::atomic<Presenter *> installed { nullptr };
// Only the UI thread presents, but isPresenting may be asked from anywhere.
std::atomic<int> presentations { 0 };

bool haveWidgets()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

QMessageBox::Icon iconFor(AlertStyle style)
{
    switch (style) {
    case AlertStyle::Informational:
        return QMessageBox::Information;
    case AlertStyle::Critical:
        return QMessageBox::Critical;
    case AlertStyle::Warning:
        break;
    }
    return QMessageBox::Warning;
}

// Button titles, messages and informative texts carry file names and error texts: they must never
// be read as markup.
void makePlain(QMessageBox &box)
{
    box.setTextFormat(Qt::PlainText);
    for (auto *label : box.findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
}

// The box builds the document of its details at once, which takes a second for a list of 200,000
// lines; they are filled in when the user first asks to see them.
class DetailsFiller final : public QObject {
public:
    DetailsFiller(QTextEdit *view, QString text)
        : QObject(view)
        , m_text(std::move(text))
    {
        view->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && !m_text.isNull()) {
            const QString text = std::exchange(m_text, QString());
            static_cast<QTextEdit *>(watched)->setPlainText(
                ShownText::cutLines(text, ShownText::alertLineLimit, text.size()));
        }
        return false;
    }

private:
    QString m_text;
};

// A button answers to its first letter (the box takes the letter alone as well as with Alt),
// unless a button before it took that letter already. A title's own ampersands stay text.
QString withMnemonic(const QString &title, QString &taken)
{
    QString shown = title;
    shown.replace(u'&', QLatin1String("&&"));
    if (title.isEmpty() || !title.at(0).isLetterOrNumber() || taken.contains(title.at(0).toLower()))
        return shown;
    taken.append(title.at(0).toLower());
    return u'&' + shown;
}

// A box of a short message lays out a wrapping informative text in the message's width, a column
// of two or three words. Each text gets the width of its longest line instead, within a width a
// person still reads at a glance and the screen holds.
void widenTexts(QMessageBox &box)
{
    const QScreen *screen = box.screen() ? box.screen() : QGuiApplication::primaryScreen();
    const int screenWidth = screen ? screen->availableGeometry().width() : 1024;
    const int widest = std::max(200, std::min(600, screenWidth / 2));
    for (const char *name : { "qt_msgbox_label", "qt_msgbox_informativelabel" }) {
        auto *label = box.findChild<QLabel *>(QLatin1String(name));
        if (!label || label->text().isEmpty())
            continue;
        int longest = 0;
        for (const QString &line : label->text().split(u'\n'))
            longest = std::max(longest, label->fontMetrics().horizontalAdvance(line));
        // The label's own margins, and a pixel against rounding that would wrap the last word.
        label->setMinimumWidth(std::min(widest, longest + 2 * label->margin() + 2));
    }
}

std::optional<QString> runPanel(const FilePanel &panel, QFileDialog::AcceptMode mode)
{
    if (!haveWidgets()) {
        qCWarning(lcCorvane).noquote() << "No file panel without a QApplication:" << panel.title;
        return std::nullopt;
    }
    const PresentationScope presenting;
    QFileDialog dialog(panel.parent, panel.title, panel.directory, panel.nameFilter);
    dialog.setAcceptMode(mode);
    if (mode == QFileDialog::AcceptSave) {
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(panel.defaultSuffix);
        // A name typed without an extension takes the chosen type's, not always the first's.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &panel](const QString &filter) {
            static const QRegularExpression firstPattern(QStringLiteral("\\*\\.(\\w+)"));
            const QRegularExpressionMatch match = firstPattern.match(filter);
            dialog.setDefaultSuffix(match.hasMatch() ? match.captured(1) : panel.defaultSuffix);
        });
        if (!panel.suggestedName.isEmpty())
            dialog.selectFile(panel.suggestedName);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> takeFront(std::deque<std::optional<QString>> &script)
{
    if (script.empty())
        return std::nullopt;
    const bool chosen = script.front().has_value();
    const QString path = script.front().value_or(QString());
    script.pop_front();
    return chosen ? std::optional<QString>(path) : std::nullopt;
}

// The most cautious answer: Escape's, the last button.
int cautiousResponse(const Alert &alert)
{
    return FirstButton + int(std::max<qsizetype>(alert.buttons.size(), 1)) - 1;
}

} // namespace

Presenter &presenter()
{
    if (Presenter *current = installed.load())
        return *current;
    static WidgetPresenter production;
    return production;
}

Presenter *installPresenter(Presenter *presenter)
{
    return installed.exchange(presenter);
}

bool isPresenting()
{
    return presentations.load() > 0;
}

PresentationScope::PresentationScope()
{
    ++presentations;
}

PresentationScope::~PresentationScope()
{
    --presentations;
}

int WidgetPresenter::runAlert(const Alert &alert)
{
    const int lastResponse = cautiousResponse(alert);
    if (!haveWidgets()) {
        qCWarning(lcCorvane).noquote() << "No alert without a QApplication:" << alert.message << alert.informativeText;
        return lastResponse;
    }
    const PresentationScope presenting;
    // A label lays out all of its text, and a report may name every task of a huge document.
    QMessageBox box(iconFor(alert.style), QCoreApplication::applicationName(), ShownText::cutLines(alert.message),
        QMessageBox::NoButton, alert.parent);
    box.setInformativeText(ShownText::cutLines(alert.informativeText));
    if (!alert.detailedText.isEmpty()) {
        box.setDetailedText(QStringLiteral(" "));
        if (auto *details = box.findChild<QTextEdit *>())
            new DetailsFiller(details, alert.detailedText);
    }
    QList<QAbstractButton *> buttons;
    QString taken;
    for (qsizetype i = 0; i < alert.buttons.size(); ++i) {
        const QString &title = alert.buttons.at(i);
        auto *button = box.addButton(withMnemonic(title, taken),
            i == 0                                 ? QMessageBox::AcceptRole
                : title == QLatin1String("Cancel") ? QMessageBox::RejectRole
                                                   : QMessageBox::ActionRole);
        buttons.append(button);
    }
    if (buttons.isEmpty())
        buttons.append(box.addButton(QMessageBox::Ok));
    // Buttons come in the order of boldness, so Escape takes the last: Cancel, No or Later. Without
    // this a box of Yes and No would ignore Escape, having no button of the reject role.
    box.setEscapeButton(buttons.constLast());
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.constFirst()));
    makePlain(box);
    widenTexts(box);
    box.exec();
    const qsizetype index = buttons.indexOf(box.clickedButton());
    // Closing the box without a button can only happen through an escape button; answer the most
    // cautious choice, the last one, should it happen anyway.
    return index < 0 ? lastResponse : FirstButton + int(index);
}

std::optional<QString> WidgetPresenter::runOpenPanel(const FilePanel &panel)
{
    return runPanel(panel, QFileDialog::AcceptOpen);
}

std::optional<QString> WidgetPresenter::runSavePanel(const FilePanel &panel)
{
    return runPanel(panel, QFileDialog::AcceptSave);
}

void WidgetPresenter::beginOpenPanel(const FilePanel &panel, std::function<void(std::optional<QString>)> completion)
{
    if (!haveWidgets()) {
        Presenter::beginOpenPanel(panel, std::move(completion));
        return;
    }
    auto *dialog = new QFileDialog(panel.parent, panel.title, panel.directory, panel.nameFilter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setWindowModality(panel.parent ? Qt::WindowModal : Qt::NonModal);
    QObject::connect(dialog, &QDialog::finished, dialog, [dialog, completion = std::move(completion)](int result) {
        const QStringList chosen = dialog->selectedFiles();
        completion(
            result == QDialog::Accepted && !chosen.isEmpty() ? std::optional(chosen.constFirst()) : std::nullopt);
    });
    dialog->show();
}

void Presenter::beginOpenPanel(const FilePanel &panel, std::function<void(std::optional<QString>)> completion)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app) {
        completion(std::nullopt);
        return;
    }
    QMetaObject::invokeMethod(
        app, [panel, completion = std::move(completion)] { completion(presenter().runOpenPanel(panel)); },
        Qt::QueuedConnection);
}

int UnattendedPresenter::runAlert(const Alert &alert)
{
    int response = cautiousResponse(alert);
    for (const QString &preferred : m_preferred) {
        if (const qsizetype index = alert.buttons.indexOf(preferred); index >= 0) {
            response = FirstButton + int(index);
            break;
        }
    }
    const qsizetype index = response - FirstButton;
    const QString answer = index < alert.buttons.size() ? alert.buttons.at(index) : QStringLiteral("OK");
    qCInfo(lcCorvane).noquote() << "alert:" << alert.message << "|" << alert.informativeText << "| answered" << answer
                                << "(unattended)";
    return response;
}

std::optional<QString> UnattendedPresenter::runOpenPanel(const FilePanel &panel)
{
    qCInfo(lcCorvane).noquote() << "file panel:" << panel.title << "| cancelled (unattended)";
    return std::nullopt;
}

std::optional<QString> UnattendedPresenter::runSavePanel(const FilePanel &panel)
{
    return runOpenPanel(panel);
}

int RecordingPresenter::runAlert(const Alert &alert)
{
    m_alerts.append(alert);
    if (m_alertResponses.empty())
        return FirstButton;
    const int response = m_alertResponses.front();
    m_alertResponses.pop_front();
    return response;
}

std::optional<QString> RecordingPresenter::runOpenPanel(const FilePanel &panel)
{
    m_openPanels.append(panel);
    return takeFront(m_openResults);
}

std::optional<QString> RecordingPresenter::runSavePanel(const FilePanel &panel)
{
    m_savePanels.append(panel);
    return takeFront(m_saveResults);
}

void RecordingPresenter::clear()
{
    m_alerts.clear();
    m_openPanels.clear();
    m_savePanels.clear();
    m_alertResponses.clear();
    m_openResults.clear();
    m_saveResults.clear();
}

} // namespace corvane
