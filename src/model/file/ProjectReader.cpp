// Reading goes through nlohmann's SAX interface: tasks are built while the bytes are parsed, so
// no JSON tree of the whole file is ever held, and skipping unknown members costs nothing.

#include "Ids.h"
#include "Project.h"
#include "ProjectFile.h"

#include <QLocale>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>

ProjectFileError::ProjectFileError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
{ }

ProjectReadCancelled::ProjectReadCancelled()
    : std::runtime_error("reading the project was cancelled")
{ }

namespace {

using Json = nlohmann::json;

// Hands the parser the bytes one by one and keeps where it is in a place the reader sees, so
// that a member can be named by its byte and the progress told.
struct Cursor {
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    const char *at = nullptr;
    const char **position = nullptr;

    reference operator*() const { return *at; }
    Cursor &operator++()
    {
        *position = ++at;
        return *this;
    }
    Cursor operator++(int)
    {
        Cursor before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const Cursor &left, const Cursor &right) { return left.at == right.at; }
};

// The JSON type of one value as it was last seen.
enum class Kind : quint8 { Missing, Null, Boolean, Integer, Unsigned, Float, String, Array, Object };

struct Value {
    Kind kind = Kind::Missing;
    bool boolean = false;
    qint64 integer = 0;
    quint64 unsignedInteger = 0;
    double number = 0.0;
    // A whole number beyond 64 bits, which the parser can only give as a double.
    bool bigInteger = false;
    std::string text;
};

QString fromUtf8(const std::string &text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString describe(const Value &value)
{
    switch (value.kind) {
    case Kind::Null:
        return QStringLiteral("null");
    case Kind::Boolean:
        return value.boolean ? QStringLiteral("true") : QStringLiteral("false");
    case Kind::Integer:
    case Kind::Unsigned:
    case Kind::Float:
        return QStringLiteral("a number");
    case Kind::String:
        return QStringLiteral("a string");
    case Kind::Array:
        return QStringLiteral("an array");
    case Kind::Object:
        return QStringLiteral("an object");
    case Kind::Missing:
        break;
    }
    return QStringLiteral("missing");
}

// Where a member sits, for messages: "task 3" or "dependency 2", counted from 1.
struct Place {
    const char *what;
    qsizetype index;

    [[nodiscard]] QString missing(const char *member) const
    {
        const QString kind = QLatin1String(what);
        return kind.left(1).toUpper() + kind.mid(1)
            + QStringLiteral(" %1 of the list has no \"%2\" member.").arg(index).arg(QLatin1String(member));
    }
    [[nodiscard]] QString mistyped(const char *member, const QString &found, const char *expected) const
    {
        return QStringLiteral("The \"%1\" member of %2 %3 is %4, not %5.")
            .arg(QLatin1String(member), QLatin1String(what))
            .arg(index)
            .arg(found, QLatin1String(expected));
    }
    [[nodiscard]] QString outOfRange(const char *member, const QString &found) const
    {
        return QStringLiteral("The \"%1\" member of %2 %3 is %4, outside the range of ids.")
            .arg(QLatin1String(member), QLatin1String(what))
            .arg(index)
            .arg(found);
    }
};

// A number or key as the file spells it, cut short where it is long.
QString quoted(const std::string &text)
{
    constexpr std::size_t longest = 40;
    QString shown = fromUtf8(text.substr(0, longest));
    if (text.size() > longest)
        shown += QStringLiteral("...");
    return shown;
}

// Sets error when the value is not a number.
bool readNumber(const Value &value, const Place &place, const char *member, double &out, QString &error)
{
    if (value.kind == Kind::Missing) {
        error = place.missing(member);
        return false;
    }
    switch (value.kind) {
    case Kind::Integer:
        out = static_cast<double>(value.integer);
        return true;
    case Kind::Unsigned:
        out = static_cast<double>(value.unsignedInteger);
        return true;
    case Kind::Float:
        out = value.number;
        return true;
    default:
        error = place.mistyped(member, describe(value), "a number");
        return false;
    }
}

// Ids are signed 64-bit integers; any spelling of one is taken (1, 1.0, 1e0), nothing else is.
bool readId(const Value &value, const Place &place, const char *member, qint64 &out, QString &error)
{
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    constexpr double limit = 9223372036854775808.0; // 2^63, the first double past the range
    switch (value.kind) {
    case Kind::Missing:
        error = place.missing(member);
        return false;
    case Kind::Integer:
        out = value.integer;
        return true;
    case Kind::Unsigned:
        if (value.unsignedInteger <= static_cast<quint64>(largest)) {
            out = static_cast<qint64>(value.unsignedInteger);
            return true;
        }
        error = place.outOfRange(member, QString::number(value.unsignedInteger));
        return false;
    case Kind::Float: {
        if (value.bigInteger) {
            error = place.outOfRange(member, fromUtf8(value.text));
            return false;
        }
        const QString text = quoted(value.text);
        if (std::trunc(value.number) != value.number) {
            error = place.mistyped(member, text, "a whole number");
            return false;
        }
        if (value.number < -limit || value.number >= limit) {
            error = place.outOfRange(member, text);
            return false;
        }
        out = static_cast<qint64>(value.number);
        return true;
    }
    default:
        error = place.mistyped(member, describe(value), "a whole number");
        return false;
    }
}

// Builds the project from SAX events. A semantic fault does not stop the parse: the rest is
// still checked as JSON, so a damaged file is reported as damaged rather than as mistyped.
class Reader {
public:
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using string_t = Json::string_t;
    using binary_t = Json::binary_t;

    bool null()
    {
        scalar(Kind::Null);
        return true;
    }
    bool boolean(bool value)
    {
        if (Value *target = scalar(Kind::Boolean))
            target->boolean = value;
        return true;
    }
    bool number_integer(number_integer_t value)
    {
        if (Value *target = scalar(Kind::Integer))
            target->integer = value;
        return true;
    }
    bool number_unsigned(number_unsigned_t value)
    {
        if (Value *target = scalar(Kind::Unsigned))
            target->unsignedInteger = value;
        return true;
    }
    bool number_float(number_float_t value, const string_t &literal)
    {
        if (Value *target = scalar(Kind::Float)) {
            target->number = value;
            target->bigInteger = literal.find_first_of(".eE") == std::string::npos;
            // Kept for messages, which quote the file rather than the nearest double; the
            // buffer is reused from value to value.
            target->text.assign(literal);
        }
        return true;
    }
    bool string(string_t &value)
    {
        // Swapping hands the parser the old buffer back, so names cost no allocation each.
        if (Value *target = scalar(Kind::String))
            target->text.swap(value);
        return true;
    }
    bool binary(binary_t &) { return true; } // never produced by the JSON parser

    bool start_object(std::size_t)
    {
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        switch (m_where) {
        case Where::Document:
            m_top.kind = Kind::Object;
            m_where = Where::Project;
            startMembers();
            break;
        case Where::Tasks:
            m_where = Where::Task;
            ++m_taskIndex;
            for (Value *value : { &m_duration, &m_start, &m_id, &m_name, &m_excGroup, &m_demanding })
                value->kind = Kind::Missing;
            startMembers();
            break;
        case Where::Dependencies:
            m_where = Where::Pair;
            ++m_pairIndex;
            m_a.kind = m_b.kind = Kind::Missing;
            startMembers();
            break;
        default:
            nested(Kind::Object);
        }
        return true;
    }

    bool end_object()
    {
        if (m_skipDepth > 0) {
            --m_skipDepth;
            return true;
        }
        switch (m_where) {
        case Where::Task:
            finishTask();
            m_where = Where::Tasks;
            return tellProgress();
        case Where::Pair:
            finishPair();
            m_where = Where::Dependencies;
            return tellProgress();
        default:
            m_where = Where::Done;
        }
        return true;
    }

    bool start_array(std::size_t)
    {
        if (m_skipDepth > 0) {
            ++m_skipDepth;
            return true;
        }
        if (m_where == Where::Project && m_target == &m_tasksValue) {
            m_tasksValue.kind = Kind::Array;
            m_target = nullptr;
            m_where = Where::Tasks;
        } else if (m_where == Where::Project && m_target == &m_dependenciesValue) {
            m_dependenciesValue.kind = Kind::Array;
            m_target = nullptr;
            m_where = Where::Dependencies;
        } else {
            nested(Kind::Array);
        }
        return true;
    }

    bool end_array()
    {
        if (m_skipDepth > 0)
            --m_skipDepth;
        else
            m_where = Where::Project;
        return true;
    }

    bool key(string_t &key)
    {
        if (m_skipDepth > 0)
            return true;
        m_target = nullptr;
        if (m_where == Where::Project) {
            noteMember(key, projectMember(key), "the project");
            if (key == "tasks")
                m_target = &m_tasksValue;
            else if (key == "dependencies")
                m_target = &m_dependenciesValue;
            else if (key == "name")
                m_target = &m_projectName;
            else if (key == "origin")
                m_target = &m_origin;
        } else if (m_where == Where::Task) {
            int member = 0;
            m_target = taskMember(key, member);
            noteMember(key, member, "task");
        } else if (m_where == Where::Pair) {
            int member = 0;
            if (key == "a") {
                m_target = &m_a;
                member = 1;
            } else if (key == "b") {
                m_target = &m_b;
                member = 2;
            }
            noteMember(key, member, "dependency");
        }
        return true;
    }

    Reader(const char *begin, std::size_t size, const std::function<bool(qint64, qint64)> &progress)
        : m_begin(begin)
        , m_position(begin)
        , m_size(size)
        , m_progress(progress)
    { }

    [[nodiscard]] const char **position() { return &m_position; }
    [[nodiscard]] bool cancelled() const { return m_cancelled; }

    bool parse_error(std::size_t position, const std::string &token, const nlohmann::detail::exception &exception)
    {
        // The parser counts the end of the input as one more byte read.
        m_atTheEnd = position > m_size;
        m_syntaxError = syntaxMessage(std::min(position, m_size), token, exception);
        return false;
    }

    [[nodiscard]] const QString &syntaxError() const { return m_syntaxError; }
    // Whether the syntax error is the input's end: it came before the text was complete.
    [[nodiscard]] bool failedAtTheEnd() const { return m_atTheEnd; }

    // The project, once the whole document has parsed as JSON.
    std::unique_ptr<Project> finish()
    {
        if (m_top.kind != Kind::Object)
            throw ProjectFileError(
                QStringLiteral("The file is not a project: it holds %1, not an object.").arg(describe(m_top)));
        if (!m_repeatError.isEmpty())
            throw ProjectFileError(m_repeatError);
        checkList(m_tasksValue, m_tasksError, "tasks");
        checkList(m_dependenciesValue, m_dependenciesError, "dependencies");
        if (m_projectName.kind == Kind::Missing)
            throw ProjectFileError(QStringLiteral("The project has no \"name\" member."));
        if (m_projectName.kind != Kind::String)
            throw ProjectFileError(
                QStringLiteral("The \"name\" member of the project is %1, not a string.").arg(describe(m_projectName)));
        // Each end may be representable while the distance between them is not, and a plan
        // whose length is infinite can be neither drawn nor edited.
        if (!m_tasks.isEmpty() && !std::isfinite(m_latestEnd - m_earliestStart))
            throw ProjectFileError(QStringLiteral("The project spans too long a time: from its earliest start to its "
                                                  "latest end is beyond the largest number."));
        std::optional<QDateTime> origin;
        if (m_origin.kind != Kind::Missing) {
            if (m_origin.kind == Kind::String)
                origin = Project::originFromText(fromUtf8(m_origin.text));
            if (!origin)
                throw ProjectFileError(QStringLiteral("The \"origin\" member of the project is %1, not a local date "
                                                      "and time such as \"2026-12-14T08:00:00\".")
                                           .arg(m_origin.kind == Kind::String ? QLatin1Char('"')
                                                       + fromUtf8(m_origin.text).left(40) + QLatin1Char('"')
                                                                              : describe(m_origin)));
        }
        std::unique_ptr<Project> project = Project::load(fromUtf8(m_projectName.text), std::move(m_tasks), m_pairs);
        if (origin) {
            project->setOrigin(origin);
            project->setDirty(false);
        }
        return project;
    }

private:
    enum class Where : quint8 { Document, Project, Tasks, Task, Dependencies, Pair, Done };

    static int projectMember(const std::string &key)
    {
        if (key == "tasks")
            return 1;
        if (key == "dependencies")
            return 2;
        if (key == "origin")
            return 4;
        return key == "name" ? 3 : 0;
    }

    // The slot of a task's member and its number (0 for one not read).
    Value *taskMember(const std::string &key, int &member)
    {
        static constexpr const char *names[] = { "duration", "start", "id", "name", "excGroup", "demanding" };
        Value *const slots[] = { &m_duration, &m_start, &m_id, &m_name, &m_excGroup, &m_demanding };
        for (int i = 0; i < 6; ++i) {
            if (key == names[i]) {
                member = i + 1;
                return slots[i];
            }
        }
        return nullptr;
    }

    // The members seen of the project, and of the task or pair being read.
    struct Seen {
        unsigned known = 0;
        std::vector<std::string> others;
    };

    Seen &seen() { return m_where == Where::Project ? m_projectSeen : m_objectSeen; }

    void startMembers()
    {
        seen().known = 0;
        seen().others.clear();
    }

    // A repeated member would leave one of two values unread, so the document is refused;
    // known members are told apart by number, others (rare) by name.
    void noteMember(const std::string &key, int member, const char *object)
    {
        Seen &members = seen();
        bool repeated = false;
        if (member > 0) {
            repeated = (members.known & (1U << member)) != 0;
            members.known |= 1U << member;
        } else if (std::find(members.others.begin(), members.others.end(), key) != members.others.end()) {
            repeated = true;
        } else {
            members.others.push_back(key);
        }
        if (!repeated || !m_repeatError.isEmpty())
            return;
        QString where = QLatin1String(object);
        if (m_where == Where::Task)
            where = QStringLiteral("task %1").arg(m_taskIndex);
        else if (m_where == Where::Pair)
            where = QStringLiteral("dependency %1").arg(m_pairIndex);
        m_repeatError = QStringLiteral("The \"%1\" member of %2 appears twice; the second is at byte %3.")
                            .arg(quoted(key), where)
                            .arg(keyStart());
    }

    // The byte, counted from 1, of the quotation mark that opens the key just read: the parser
    // stands after the closing one, and a quotation mark inside a key follows an odd number of
    // backslashes.
    [[nodiscard]] qint64 keyStart() const
    {
        const char *quote = m_position - 1;
        for (const char *at = quote - 1; at >= m_begin; --at) {
            if (*at != '"')
                continue;
            const char *escape = at;
            while (escape > m_begin && escape[-1] == '\\')
                --escape;
            if ((at - escape) % 2 == 0)
                return qint64(at - m_begin) + 1;
        }
        return qint64(quote - m_begin) + 1;
    }

    bool tellProgress()
    {
        constexpr int every = 4096;
        if (!m_progress || ++m_sinceProgress < every)
            return true;
        m_sinceProgress = 0;
        m_cancelled = !m_progress(qint64(m_position - m_begin), qint64(m_size));
        return !m_cancelled;
    }

    // The slot a scalar value goes into, or null when the value is not wanted.
    Value *scalar(Kind kind)
    {
        if (m_skipDepth > 0)
            return nullptr;
        switch (m_where) {
        case Where::Document:
            m_top.kind = kind;
            m_where = Where::Done;
            return &m_top;
        case Where::Tasks:
            ++m_taskIndex;
            notAnObject(kind, "Task", m_taskIndex, m_tasksError);
            return nullptr;
        case Where::Dependencies:
            ++m_pairIndex;
            notAnObject(kind, "Dependency", m_pairIndex, m_dependenciesError);
            return nullptr;
        default:
            break;
        }
        Value *target = m_target;
        m_target = nullptr;
        if (target)
            target->kind = kind;
        return target;
    }

    // An object or array where a member's value is wanted, or inside a list that needs objects.
    void nested(Kind kind)
    {
        if (m_where == Where::Tasks) {
            ++m_taskIndex;
            notAnObject(kind, "Task", m_taskIndex, m_tasksError);
        } else if (m_where == Where::Dependencies) {
            ++m_pairIndex;
            notAnObject(kind, "Dependency", m_pairIndex, m_dependenciesError);
        } else if (m_where == Where::Document) {
            m_top.kind = kind;
            m_where = Where::Done;
        } else if (m_target) {
            m_target->kind = kind;
            m_target = nullptr;
        }
        m_skipDepth = 1;
    }

    void notAnObject(Kind kind, const char *what, qsizetype index, QString &error)
    {
        if (!error.isEmpty())
            return;
        Value value;
        value.kind = kind;
        // Booleans are named by kind alone here; their value does not matter.
        error = QStringLiteral("%1 %2 of the list is %3, not an object.")
                    .arg(QLatin1String(what))
                    .arg(index)
                    .arg(kind == Kind::Boolean ? QStringLiteral("true or false") : describe(value));
    }

    void finishTask()
    {
        if (!m_tasksError.isEmpty())
            return;
        const Place place { "task", m_taskIndex };
        double duration = 0.0;
        double start = 0.0;
        qint64 id = 0;
        if (!readNumber(m_duration, place, "duration", duration, m_tasksError)
            || !readNumber(m_start, place, "start", start, m_tasksError)
            || !readId(m_id, place, "id", id, m_tasksError))
            return;
        if (m_name.kind != Kind::String) {
            m_tasksError = m_name.kind == Kind::Missing ? place.missing("name")
                                                        : place.mistyped("name", describe(m_name), "a string");
            return;
        }
        ExclusionGroup group;
        if (m_excGroup.kind == Kind::String) {
            group = Task::groupFromText(fromUtf8(m_excGroup.text));
        } else if (m_excGroup.kind != Kind::Missing) {
            m_tasksError = place.mistyped("excGroup", describe(m_excGroup), "a string");
            return;
        } else if (m_demanding.kind == Kind::Boolean) {
            if (m_demanding.boolean)
                group = QStringLiteral("1");
        } else if (m_demanding.kind != Kind::Missing) {
            m_tasksError = place.mistyped("demanding", describe(m_demanding), "true or false");
            return;
        }
        const double end = start + duration;
        if (!std::isfinite(end)) {
            m_tasksError = QStringLiteral("Task %1 of the list ends too late: its start plus its duration is "
                                          "beyond the largest number.")
                               .arg(m_taskIndex);
            return;
        }
        m_earliestStart = std::min(m_earliestStart, start);
        m_latestEnd = std::max(m_latestEnd, end);
        TaskPtr task = Task::createStartingAt(id, nullptr, fromUtf8(m_name.text), start, duration, std::move(group));
        Ids::raiseTaskIdPast(id);
        m_tasks.append(std::move(task));
    }

    void finishPair()
    {
        if (!m_dependenciesError.isEmpty())
            return;
        const Place place { "dependency", m_pairIndex };
        IntPair pair;
        if (readId(m_a, place, "a", pair.a, m_dependenciesError)
            && readId(m_b, place, "b", pair.b, m_dependenciesError))
            m_pairs.append(pair);
    }

    static void checkList(const Value &value, const QString &error, const char *member)
    {
        if (value.kind == Kind::Missing)
            throw ProjectFileError(QStringLiteral("The project has no \"%1\" member.").arg(QLatin1String(member)));
        if (value.kind != Kind::Array)
            throw ProjectFileError(QStringLiteral("The \"%1\" member of the project is %2, not an array.")
                                       .arg(QLatin1String(member), describe(value)));
        if (!error.isEmpty())
            throw ProjectFileError(error);
    }

    static QString syntaxMessage(
        std::size_t position, const std::string &token, const nlohmann::detail::exception &exception)
    {
        if (exception.id == 406) {
            // Only a number whose value is infinite gets here (1e400).
            QString number = fromUtf8(token.substr(0, 40));
            if (token.size() > 40)
                number += QStringLiteral("...");
            return QStringLiteral("The file holds a number too large to use, %1, at byte %2.")
                .arg(number)
                .arg(position);
        }
        // nlohmann's text reads "... syntax error while parsing value - invalid literal; last read: '...'".
        // Keep the reason, not the bytes read, which may be anything.
        std::string reason = exception.what();
        if (const size_t dash = reason.find(" - "); dash != std::string::npos)
            reason.erase(0, dash + 3);
        if (const size_t last = reason.find("; last read:"); last != std::string::npos)
            reason.erase(last);
        if (reason.starts_with("unexpected end of input"))
            return QStringLiteral("The file is not valid JSON: it ends too early, at byte %1.").arg(position);
        if (reason.find("ill-formed UTF-8") != std::string::npos)
            return QStringLiteral("The file is not valid JSON: the text at byte %1 is not UTF-8.").arg(position);
        return QStringLiteral("The file is not valid JSON: syntax error at byte %1 (%2).")
            .arg(position)
            .arg(fromUtf8(reason));
    }

    const char *m_begin;
    const char *m_position;
    const std::size_t m_size;
    const std::function<bool(qint64, qint64)> &m_progress;
    int m_sinceProgress = 0;
    bool m_cancelled = false;
    Seen m_projectSeen;
    Seen m_objectSeen;
    QString m_repeatError;
    double m_earliestStart = std::numeric_limits<double>::infinity();
    double m_latestEnd = -std::numeric_limits<double>::infinity();
    bool m_atTheEnd = false;
    Where m_where = Where::Document;
    int m_skipDepth = 0;
    Value *m_target = nullptr;
    QString m_syntaxError;

    Value m_top;

    Value m_tasksValue;
    Value m_dependenciesValue;
    Value m_projectName;
    Value m_origin;
    TaskList m_tasks;
    QList<IntPair> m_pairs;
    QString m_tasksError;
    QString m_dependenciesError;
    qsizetype m_taskIndex = 0;
    qsizetype m_pairIndex = 0;

    Value m_duration, m_start, m_id, m_name, m_excGroup, m_demanding;
    Value m_a, m_b;
};

} // namespace

std::unique_ptr<Project> readProject(const QByteArray &bytes, const std::function<bool(qint64, qint64)> &progress)
{
    if (bytes.isEmpty())
        throw ProjectFileError(QStringLiteral("The file is empty."));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF"))
        throw ProjectFileError(QStringLiteral("The file is not valid JSON: it is UTF-16 text, and a project file is "
                                              "UTF-8. Save it as UTF-8, then open it again."));
    // The parser takes a NUL byte between tokens for the end of the input and would accept a
    // document cut short by one, so only the text before the first NUL is parsed.
    const auto *nul = static_cast<const char *>(std::memchr(bytes.constData(), 0, static_cast<size_t>(bytes.size())));
    const qsizetype length = nul ? nul - bytes.constData() : bytes.size();
    Reader reader(bytes.constData(), static_cast<std::size_t>(length), progress);
    const bool parsed = Json::sax_parse(Cursor { bytes.constData(), reader.position() },
        Cursor { bytes.constData() + length, reader.position() }, &reader);
    if (reader.cancelled())
        throw ProjectReadCancelled();
    if (nul && (parsed || reader.failedAtTheEnd()))
        throw ProjectFileError(
            QStringLiteral("The file is not valid JSON: syntax error at byte %1 (unexpected NUL byte).")
                .arg(length + 1));
    if (!parsed)
        throw ProjectFileError(reader.syntaxError());
    return reader.finish();
}
