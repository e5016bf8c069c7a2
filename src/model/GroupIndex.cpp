#include "GroupIndex.h"

#include "Task.h"

#include <QVarLengthArray>
#include <algorithm>
#include <functional>
#include <limits>

namespace {

// Keys are (start, task): tasks may share a start, never an identity.
bool keyLess(double startA, const Task *taskA, double startB, const Task *taskB)
{
    if (startA != startB)
        return startA < startB;
    return std::less<const Task *>()(taskA, taskB);
}

} // namespace

bool GroupIndex::less(int a, double start, const Task *task) const
{
    return keyLess(m_nodes[a].start, m_nodes[a].task, start, task);
}

Task *GroupIndex::ceiling(double start, const Task *task, bool inclusive) const
{
    Task *best = nullptr;
    for (int node = m_root; node >= 0;) {
        const Node &n = m_nodes[node];
        const bool after = inclusive ? !keyLess(n.start, n.task, start, task) : keyLess(start, task, n.start, n.task);
        if (after) {
            best = n.task;
            node = n.left;
        } else {
            node = n.right;
        }
    }
    return best;
}

Task *GroupIndex::below(double start, const Task *task) const
{
    Task *best = nullptr;
    for (int node = m_root; node >= 0;) {
        const Node &n = m_nodes[node];
        if (keyLess(n.start, n.task, start, task)) {
            best = n.task;
            node = n.right;
        } else {
            node = n.left;
        }
    }
    return best;
}

// Also adopts the children: every change of a node's children passes through here.
void GroupIndex::update(int node)
{
    Node &n = m_nodes[node];
    n.maxEnd = n.end;
    if (n.left >= 0) {
        n.maxEnd = std::max(n.maxEnd, m_nodes[n.left].maxEnd);
        m_nodes[n.left].parent = node;
    }
    if (n.right >= 0) {
        n.maxEnd = std::max(n.maxEnd, m_nodes[n.right].maxEnd);
        m_nodes[n.right].parent = node;
    }
}

void GroupIndex::raise(int node)
{
    while (node >= 0) {
        const double before = m_nodes[node].maxEnd;
        update(node);
        if (m_nodes[node].maxEnd == before)
            return;
        node = m_nodes[node].parent;
    }
}

void GroupIndex::setRoot(int node)
{
    m_root = node;
    if (node >= 0)
        m_nodes[node].parent = -1;
}

int GroupIndex::predecessor(int node) const
{
    if (m_nodes[node].left >= 0) {
        node = m_nodes[node].left;
        while (m_nodes[node].right >= 0)
            node = m_nodes[node].right;
        return node;
    }
    for (int parent = m_nodes[node].parent; parent >= 0; node = parent, parent = m_nodes[parent].parent)
        if (m_nodes[parent].right == node)
            return parent;
    return -1;
}

int GroupIndex::successor(int node) const
{
    if (m_nodes[node].right >= 0) {
        node = m_nodes[node].right;
        while (m_nodes[node].left >= 0)
            node = m_nodes[node].left;
        return node;
    }
    for (int parent = m_nodes[node].parent; parent >= 0; node = parent, parent = m_nodes[parent].parent)
        if (m_nodes[parent].left == node)
            return parent;
    return -1;
}

// Everything below the key to the left, the rest to the right.
void GroupIndex::split(int node, double start, const Task *task, int &left, int &right)
{
    if (node < 0) {
        left = right = -1;
        return;
    }
    if (less(node, start, task)) {
        split(m_nodes[node].right, start, task, m_nodes[node].right, right);
        left = node;
    } else {
        split(m_nodes[node].left, start, task, left, m_nodes[node].left);
        right = node;
    }
    update(node);
}

int GroupIndex::merge(int left, int right)
{
    if (left < 0)
        return right;
    if (right < 0)
        return left;
    if (m_nodes[left].priority > m_nodes[right].priority) {
        m_nodes[left].right = merge(m_nodes[left].right, right);
        update(left);
        return left;
    }
    m_nodes[right].left = merge(left, m_nodes[right].left);
    update(right);
    return right;
}

void GroupIndex::insert(Task *task)
{
    // xorshift: cheap, and the same tree shape on every run.
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 17;
    m_seed ^= m_seed << 5;
    int node;
    if (!m_free.empty()) {
        node = m_free.back();
        m_free.pop_back();
    } else {
        node = int(m_nodes.size());
        m_nodes.emplace_back();
    }
    m_nodes[node] = { task->start(), task->end(), task->end(), task, m_seed, -1, -1, -1 };
    task->m_groupNode = node;
    task->m_groupIndex = this;
    if (task->end() < task->start())
        ++m_negative;

    int left, right;
    split(m_root, task->start(), task, left, right);
    setRoot(merge(merge(left, node), right));
}

void GroupIndex::erase(Task *task)
{
    const int target = task->m_groupNode;
    if (target < 0)
        return;
    task->m_groupNode = -1;
    task->m_groupIndex = nullptr;
    const double start = m_nodes[target].start;
    int *link = &m_root;
    // On the hot path of every move of a grouped task: no allocation for a tree of sane depth.
    QVarLengthArray<int, 64> path;
    while (*link != target) {
        if (*link < 0)
            return; // not in this tree; nothing to take out
        path.push_back(*link);
        link = less(*link, start, task) ? &m_nodes[*link].right : &m_nodes[*link].left;
    }
    if (m_nodes[target].end < start)
        --m_negative;
    *link = merge(m_nodes[target].left, m_nodes[target].right);
    m_nodes[target].task = nullptr;
    for (auto it = path.rbegin(); it != path.rend(); ++it)
        update(*it);
    if (path.empty())
        setRoot(m_root);
    m_free.push_back(target);
}

void GroupIndex::rekey(Task *task)
{
    const int target = task->m_groupNode;
    Node &node = m_nodes[target];
    const double start = task->start();
    const double end = task->end();
    if (node.start == start && node.end == end)
        return;
    const int before = predecessor(target);
    const int after = successor(target);
    const bool inOrder = (before < 0 || keyLess(m_nodes[before].start, m_nodes[before].task, start, task))
        && (after < 0 || keyLess(start, task, m_nodes[after].start, m_nodes[after].task));
    if (!inOrder) {
        erase(task);
        insert(task);
        return;
    }
    m_negative += int(end < start) - int(node.end < node.start);
    node.start = start;
    node.end = end;
    raise(target);
}

void GroupIndex::clear()
{
    for (const Node &node : m_nodes)
        if (node.task && node.task->m_groupNode >= 0) {
            node.task->m_groupNode = -1;
            node.task->m_groupIndex = nullptr;
        }
    m_nodes.clear();
    m_free.clear();
    m_root = -1;
    m_negative = 0;
}

// Members that start at or before the time and end after it.
void GroupIndex::stab(int node, double time, const Task *except, std::vector<Task *> &out) const
{
    if (node < 0 || !(m_nodes[node].maxEnd > time))
        return;
    const Node &n = m_nodes[node];
    stab(n.left, time, except, out);
    if (n.start <= time) {
        if (n.end > time && n.task != except)
            out.push_back(n.task);
        stab(n.right, time, except, out);
    }
}

// Members that start strictly between the two times.
void GroupIndex::range(int node, double low, double high, const Task *except, std::vector<Task *> &out) const
{
    if (node < 0)
        return;
    const Node &n = m_nodes[node];
    if (n.start > low)
        range(n.left, low, high, except, out);
    if (n.start > low && n.start < high && n.task != except)
        out.push_back(n.task);
    if (n.start < high)
        range(n.right, low, high, except, out);
}

// Members of the subtree that end after the time.
void GroupIndex::endingAfter(int node, double time, std::vector<Task *> &out) const
{
    while (node >= 0 && m_nodes[node].maxEnd > time) {
        const Node &n = m_nodes[node];
        endingAfter(n.left, time, out);
        if (n.end > time)
            out.push_back(n.task);
        node = n.right;
    }
}

void GroupIndex::overlapping(const Task &task, std::vector<Task *> &out) const
{
    const double start = task.start();
    const double end = task.end();
    const int self = task.m_groupIndex == this ? task.m_groupNode : -1;
    if (m_negative > 0 || self < 0 || m_nodes[self].start != start || m_nodes[self].end != end) {
        stab(m_root, start, &task, out);
        if (end > start)
            range(m_root, start, end, &task, out);
        return;
    }
    // From the task's own node, as its neighbours are where a cascade looks. Members before it
    // start by its start and overlap it when they end after that: its left subtree, and each
    // ancestor it lies right of with that one's left subtree, passed over where they end by then.
    if (const int left = m_nodes[self].left; left >= 0 && m_nodes[left].maxEnd > start)
        endingAfter(left, start, out);
    for (int child = self, parent = m_nodes[self].parent; parent >= 0;
         child = parent, parent = m_nodes[parent].parent) {
        const Node &p = m_nodes[parent];
        if (p.right != child)
            continue;
        if (p.end > start)
            out.push_back(p.task);
        if (p.left >= 0 && m_nodes[p.left].maxEnd > start)
            endingAfter(p.left, start, out);
    }
    // Members after it, in order, as long as they start inside it (or with it, when it has none).
    for (int node = successor(self); node >= 0; node = successor(node)) {
        const Node &n = m_nodes[node];
        if (n.start <= start) {
            if (n.end > start)
                out.push_back(n.task);
        } else if (n.start < end) {
            out.push_back(n.task);
        } else {
            break;
        }
    }
}

bool GroupIndex::earliestFrom(int node, double time, const Task *except, double &best) const
{
    if (node < 0)
        return false;
    const Node &n = m_nodes[node];
    if (n.start < time)
        return earliestFrom(n.right, time, except, best);
    if (earliestFrom(n.left, time, except, best))
        return true;
    if (n.task != except) {
        best = n.start;
        return true;
    }
    return earliestFrom(n.right, time, except, best);
}

double GroupIndex::earliestStartFrom(double time, const Task *except) const
{
    double best = std::numeric_limits<double>::infinity();
    earliestFrom(m_root, time, except, best);
    return best;
}

// Latest start first, skipping subtrees that cannot end later than what was found. In a group
// without overlaps that is a walk down one path.
void GroupIndex::latestUpTo(int node, double time, const Task *except, double &best) const
{
    if (node < 0 || !(m_nodes[node].maxEnd > best))
        return;
    const Node &n = m_nodes[node];
    // A member that starts after the time can end before it only with a negative duration.
    if (n.start <= time || m_negative > 0)
        latestUpTo(n.right, time, except, best);
    if (n.task != except && n.end <= time && n.end > best)
        best = n.end;
    latestUpTo(n.left, time, except, best);
}

double GroupIndex::latestEndUpTo(double time, const Task *except) const
{
    double best = -std::numeric_limits<double>::infinity();
    latestUpTo(m_root, time, except, best);
    return best;
}
