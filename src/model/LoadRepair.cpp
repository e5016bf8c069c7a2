// Building a project from a file: stored times are kept, and every dependency that contradicts
// them, depends on itself or closes a cycle is dropped into deletedEdges.

#include "Logging.h"
#include "Project.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>
#include <vector>

namespace {

// Strongly connected components over a graph in compressed rows, by Tarjan's method in Pearce's
// form, which keeps one number per vertex: its visit order while open, then its component. No
// recursion: a chain of a few hundred thousand tasks must not exhaust the stack. The buffers are
// kept between runs, so many small runs cost no allocations.
class Components {
public:
    // A component number for each vertex; targets[offsets[v] .. offsets[v + 1]) are v's successors.
    const std::vector<int> &run(int count, const std::vector<int> &offsets, const std::vector<int> &targets)
    {
        m_number.assign(count, 0);
        int order = 1;
        // Component numbers count down from the top, so they always lie above every open visit order.
        int component = count - 1;
        for (int root = 0; root < count; ++root) {
            if (m_number[root] != 0)
                continue;
            m_number[root] = order++;
            m_calls.push_back({ root, offsets[root], true });
            while (!m_calls.empty()) {
                Call &call = m_calls.back();
                if (call.position < offsets[call.vertex + 1]) {
                    const int next = targets[call.position++];
                    if (m_number[next] == 0) {
                        m_number[next] = order++;
                        m_calls.push_back({ next, offsets[next], true });
                    } else if (m_number[next] < m_number[call.vertex]) {
                        m_number[call.vertex] = m_number[next];
                        call.isRoot = false;
                    }
                    continue;
                }
                const int done = call.vertex;
                if (call.isRoot) {
                    --order;
                    while (!m_open.empty() && m_number[done] <= m_number[m_open.back()]) {
                        m_number[m_open.back()] = component;
                        m_open.pop_back();
                        --order;
                    }
                    m_number[done] = component--;
                } else {
                    m_open.push_back(done);
                }
                m_calls.pop_back();
                if (!m_calls.empty() && m_number[done] < m_number[m_calls.back().vertex]) {
                    m_number[m_calls.back().vertex] = m_number[done];
                    m_calls.back().isRoot = false;
                }
            }
        }
        return m_number;
    }

private:
    struct Call {
        int vertex;
        int position;
        bool isRoot;
    };

    std::vector<int> m_number, m_open;
    std::vector<Call> m_calls;
};

// Fills offsets and targets with the compressed rows of count vertices and the arcs that
// forEachArc passes to its argument, twice over.
template<typename ForEachArc>
void compress(int count, const ForEachArc &forEachArc, std::vector<int> &offsets, std::vector<int> &targets)
{
    offsets.assign(count + 1, 0);
    forEachArc([&](int from, int) { ++offsets[from + 1]; });
    std::partial_sum(offsets.begin(), offsets.end(), offsets.begin());
    targets.resize(offsets[count]);
    forEachArc([&](int from, int to) { targets[offsets[from]++] = to; });
    // Filling advanced each row start to the next row's; shift them back.
    std::rotate(offsets.begin(), offsets.end() - 1, offsets.end());
    offsets[0] = 0;
}

} // namespace

// Decides which dependencies close a cycle when the edges are walked from the last to the first.
//
// Edge i = (P, S) is dropped exactly when S reaches P over the edges of lower index alone, kept or
// dropped: were a kept higher edge needed, the highest edge of that cycle would have seen the rest
// of the cycle below it and been dropped itself. So edge i is dropped when P and S are strongly
// connected in the graph of edges 0..i, and what each edge needs is the first prefix of the edge
// list in which its ends merge. That is found for all edges at once by halving the range of
// prefixes: the components of the middle prefix send each edge to the half holding its merge
// prefix, and the left half is settled first, its merges contracted in a union-find, so that the
// right half starts from the middle prefix's components. Every edge meets one component run per
// halving, O(m log m) in all. Edges whose ends merge after a range join components that stay
// apart throughout it, so they lie on no cycle there and are left out of its runs.
class Project::GraphCrawler {
public:
    GraphCrawler(int nodeCount, std::vector<std::pair<int, int>> ends)
        : m_nodeCount(nodeCount)
        , m_ends(std::move(ends))
    { }

    // One flag per edge: whether the backward walk drops it.
    std::vector<char> closingEdges()
    {
        std::vector<char> closing(m_ends.size(), 0);
        std::vector<int> offsets, targets;
        compress(
            m_nodeCount,
            [this](const auto &arc) {
                for (const auto &[from, to] : m_ends)
                    arc(from, to);
            },
            offsets, targets);
        const std::vector<int> whole = m_components.run(m_nodeCount, offsets, targets);
        // Only edges inside one component of the whole graph can close a cycle, and only they
        // can merge components of a prefix; their order stands in for the edge index.
        for (size_t i = 0; i < m_ends.size(); ++i) {
            const auto [from, to] = m_ends[i];
            if (from == to) {
                closing[i] = 1;
            } else if (whole[from] == whole[to]) {
                m_work.push_back({ static_cast<int>(m_edge.size()), from, to });
                m_edge.push_back(static_cast<int>(i));
            }
        }
        if (m_work.empty())
            return closing;

        const int count = static_cast<int>(m_work.size());
        m_parent.resize(m_nodeCount);
        std::iota(m_parent.begin(), m_parent.end(), 0);
        m_size.assign(m_nodeCount, 1);
        m_seen.assign(m_nodeCount, 0);
        m_local.resize(m_nodeCount);
        m_runEnds.resize(count);
        m_spare.resize(count);
        m_closing.assign(count, 0);
        split(0, count - 1, 0, count);
        for (int rank = 0; rank < count; ++rank)
            closing[m_edge[rank]] = m_closing[rank];
        return closing;
    }

private:
    // An edge by its rank among the edges that matter, with its ends as they were last looked up
    // in the union-find. Runs read these in sequence, so they travel together.
    struct Item {
        int rank;
        int from;
        int to;
    };

    // m_work[begin, end) holds the edges whose ends merge in a prefix of rank low..high; the
    // union-find holds the components of the prefix just before low.
    void split(int low, int high, int begin, int end)
    {
        // An edge above the range merged before it was even added: it closes a cycle, and the
        // ends it would join are connected without it.
        end = static_cast<int>(std::partition(m_work.begin() + begin, m_work.begin() + end, [&](const Item &item) {
            if (item.rank <= high)
                return true;
            m_closing[item.rank] = 1;
            return false;
        }) - m_work.begin());
        if (begin == end)
            return;
        if (low == high) {
            // These ends merge as the edge of rank low comes in: that edge closes a cycle, the
            // earlier ones are the rest of it.
            for (int i = begin; i < end; ++i) {
                m_closing[m_work[i].rank] = m_work[i].rank == low;
                unite(m_work[i].from, m_work[i].to);
            }
            return;
        }
        const int middle = low + (high - low) / 2;
        ++m_stamp;
        int vertices = 0;
        const auto local = [&](int &node) {
            node = find(node);
            if (m_seen[node] != m_stamp) {
                m_seen[node] = m_stamp;
                m_local[node] = vertices++;
            }
            return m_local[node];
        };
        for (int i = begin; i < end; ++i)
            m_runEnds[i] = { local(m_work[i].from), local(m_work[i].to) };
        // Only the edges up to the middle are in its prefix.
        compress(
            vertices,
            [&](const auto &arc) {
                for (int i = begin; i < end; ++i) {
                    if (m_work[i].rank <= middle)
                        arc(m_runEnds[i].first, m_runEnds[i].second);
                }
            },
            m_offsets, m_targets);
        const std::vector<int> &component = m_components.run(vertices, m_offsets, m_targets);
        int left = begin;
        int right = end;
        for (int i = begin; i < end; ++i) {
            if (component[m_runEnds[i].first] == component[m_runEnds[i].second])
                m_spare[left++] = m_work[i];
            else
                m_spare[--right] = m_work[i];
        }
        std::copy(m_spare.begin() + begin, m_spare.begin() + end, m_work.begin() + begin);
        // Halving the range of prefixes bounds this recursion by log2 of the edge count.
        split(low, middle, begin, left);
        split(middle + 1, high, left, end);
    }

    int find(int node)
    {
        while (m_parent[node] != node) {
            m_parent[node] = m_parent[m_parent[node]];
            node = m_parent[node];
        }
        return node;
    }

    void unite(int a, int b)
    {
        a = find(a);
        b = find(b);
        if (a == b)
            return;
        if (m_size[a] < m_size[b])
            std::swap(a, b);
        m_parent[b] = a;
        m_size[a] += m_size[b];
    }

    const int m_nodeCount;
    const std::vector<std::pair<int, int>> m_ends;
    Components m_components;
    // By rank: the edge index, and whether the edge closes a cycle.
    std::vector<int> m_edge;
    std::vector<char> m_closing;
    // The edges still to settle, a copy for partitioning them, and by position their ends as
    // vertices of the current run.
    std::vector<Item> m_work, m_spare;
    std::vector<std::pair<int, int>> m_runEnds;
    // Union-find over tasks, and each component's vertex in the current run.
    std::vector<int> m_parent, m_size, m_seen, m_local;
    int m_stamp = 0;
    std::vector<int> m_offsets, m_targets;
};

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
    // Walking the edges from the last to the first, each one whose successor already reaches its
    // predecessor over the edges still kept is dropped, in that order.
    std::unordered_map<const Task *, int> indexOf;
    indexOf.reserve(m_tasks.size());
    const auto nodeOf = [&](const TaskPtr &task) {
        return indexOf.try_emplace(task.get(), static_cast<int>(indexOf.size())).first->second;
    };
    std::vector<std::pair<int, int>> ends;
    ends.reserve(m_edges.size());
    for (const Edge &edge : std::as_const(m_edges)) {
        const int predecessor = nodeOf(edge.predecessor);
        ends.emplace_back(predecessor, nodeOf(edge.successor));
    }
    const std::vector<char> closing = GraphCrawler(static_cast<int>(indexOf.size()), std::move(ends)).closingEdges();
    if (std::find(closing.begin(), closing.end(), 1) == closing.end())
        return;
    QList<Edge> kept;
    kept.reserve(m_edges.size());
    for (qsizetype i = m_edges.size() - 1; i >= 0; --i) {
        if (closing[i])
            m_deletedEdges.append(m_edges[i]);
    }
    for (qsizetype i = 0; i < m_edges.size(); ++i) {
        if (!closing[i])
            kept.append(m_edges[i]);
    }
    m_edges = std::move(kept);
}
