// Building a project from a file: stored times are kept, and every dependency that contradicts
// them, depends on itself or closes a cycle is dropped into deletedEdges.

#include "Logging.h"
#include "Project.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

// Answers whether one task reaches another over the dependencies still kept. Only tasks of one
// strongly connected component are walked: a path between two of its tasks never leaves it.
class Project::GraphCrawler {
public:
    GraphCrawler(const std::vector<std::vector<std::pair<int, int>>> &adjacency, const std::vector<char> &removed,
        const std::vector<int> &component, std::vector<quint32> &visited, quint32 walk)
        : m_adjacency(adjacency)
        , m_removed(removed)
        , m_component(component)
        , m_visited(visited)
        , m_walk(walk)
    { }

    bool reaches(int from, int to)
    {
        std::vector<int> pending { from };
        m_visited[from] = m_walk;
        while (!pending.empty()) {
            const int task = pending.back();
            pending.pop_back();
            for (const auto &[next, edge] : m_adjacency[task]) {
                if (m_removed[edge] || m_component[next] != m_component[to])
                    continue;
                if (next == to)
                    return true;
                if (m_visited[next] != m_walk) {
                    m_visited[next] = m_walk;
                    pending.push_back(next);
                }
            }
        }
        return false;
    }

private:
    const std::vector<std::vector<std::pair<int, int>>> &m_adjacency;
    const std::vector<char> &m_removed;
    const std::vector<int> &m_component;
    std::vector<quint32> &m_visited;
    const quint32 m_walk;
};

namespace {

// Tarjan's strongly connected components, without recursion.
std::vector<int> components(const std::vector<std::vector<std::pair<int, int>>> &adjacency)
{
    const int count = static_cast<int>(adjacency.size());
    std::vector<int> index(count, -1), low(count, 0), component(count, -1);
    std::vector<char> onStack(count, 0);
    std::vector<int> stack;
    std::vector<std::pair<int, size_t>> calls;
    int counter = 0;
    int components = 0;
    for (int root = 0; root < count; ++root) {
        if (index[root] != -1)
            continue;
        index[root] = low[root] = counter++;
        stack.push_back(root);
        onStack[root] = 1;
        calls.emplace_back(root, 0);
        while (!calls.empty()) {
            const int task = calls.back().first;
            const size_t position = calls.back().second;
            if (position < adjacency[task].size()) {
                calls.back().second++;
                const int next = adjacency[task][position].first;
                if (index[next] == -1) {
                    index[next] = low[next] = counter++;
                    stack.push_back(next);
                    onStack[next] = 1;
                    calls.emplace_back(next, 0);
                } else if (onStack[next]) {
                    low[task] = std::min(low[task], index[next]);
                }
                continue;
            }
            if (low[task] == index[task]) {
                int member;
                do {
                    member = stack.back();
                    stack.pop_back();
                    onStack[member] = 0;
                    component[member] = components;
                } while (member != task);
                ++components;
            }
            calls.pop_back();
            if (!calls.empty())
                low[calls.back().first] = std::min(low[calls.back().first], low[task]);
        }
    }
    return component;
}

} // namespace

std::unique_ptr<Project> Project::load(const QString &name, TaskList tasks, const QList<IntPair> &dependencies)
{
    auto project = std::make_unique<Project>();
    project->m_name = name;

    QHash<qint64, TaskPtr> byId;
    byId.reserve(tasks.size());
    for (const TaskPtr &task : std::as_const(tasks)) {
        task->setProject(project.get());
        byId.insert(task->id(), task);
    }
    project->m_tasks = std::move(tasks);

    project->m_edges.reserve(dependencies.size());
    for (const IntPair &pair : dependencies) {
        const TaskPtr predecessor = byId.value(pair.a);
        if (!predecessor) {
            qCCritical(lcQuillfern, "dependency referencing non-existing task # %lld", static_cast<long long>(pair.a));
            continue;
        }
        const TaskPtr successor = byId.value(pair.b);
        if (!successor) {
            qCCritical(lcQuillfern, "dependency referencing non-existing task # %lld", static_cast<long long>(pair.b));
            continue;
        }
        if (predecessor->end() > successor->start())
            project->m_deletedEdges.append({ predecessor, successor });
        else
            project->m_edges.append({ predecessor, successor });
    }

    project->removeDeletedCycles();
    project->rebuildAdjacency();
    project->recomputeStart();
    project->recomputeEnd();
    project->m_isDirty = false;
    return project;
}

void Project::removeDeletedCycles()
{
    // Walk the edges from the last to the first and drop each one whose successor already reaches
    // its predecessor over the edges still kept. Edges between different strongly connected
    // components can close no cycle, so an acyclic file needs no walk at all.
    std::unordered_map<const Task *, int> indexOf;
    indexOf.reserve(m_tasks.size());
    std::vector<std::vector<std::pair<int, int>>> adjacency;
    const auto nodeOf = [&](const TaskPtr &task) {
        const auto [found, inserted] = indexOf.try_emplace(task.get(), static_cast<int>(adjacency.size()));
        if (inserted)
            adjacency.emplace_back();
        return found->second;
    };
    std::vector<std::pair<int, int>> ends;
    ends.reserve(m_edges.size());
    for (const Edge &edge : std::as_const(m_edges))
        ends.emplace_back(nodeOf(edge.predecessor), nodeOf(edge.successor));
    for (size_t i = 0; i < ends.size(); ++i)
        adjacency[ends[i].first].emplace_back(ends[i].second, static_cast<int>(i));

    const std::vector<int> component = components(adjacency);
    std::vector<char> removed(ends.size(), 0);
    std::vector<quint32> visited(adjacency.size(), 0);
    quint32 walk = 0;
    bool anyRemoved = false;
    for (qsizetype i = m_edges.size() - 1; i >= 0; --i) {
        const auto [predecessor, successor] = ends[i];
        if (component[predecessor] != component[successor])
            continue;
        if (predecessor != successor
            && !GraphCrawler(adjacency, removed, component, visited, ++walk).reaches(successor, predecessor))
            continue;
        removed[i] = 1;
        anyRemoved = true;
        m_deletedEdges.append(m_edges[i]);
    }
    if (!anyRemoved)
        return;
    QList<Edge> kept;
    kept.reserve(m_edges.size());
    for (qsizetype i = 0; i < m_edges.size(); ++i) {
        if (!removed[i])
            kept.append(m_edges[i]);
    }
    m_edges = std::move(kept);
}
