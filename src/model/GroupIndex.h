#pragma once

#include <QtGlobal>
#include <cstdint>
#include <vector>

class Task;

// The members of one exclusion group ordered by start, each subtree knowing the latest end in it,
// so that the members overlapping a task are found in O(log n + k) instead of by a scan of the
// group. A randomised search tree (treap) keeps it balanced without bookkeeping per rotation.
class GroupIndex {
public:
    // The task's start and end when inserted or rekeyed are its key.
    void insert(Task *task);
    void erase(Task *task);
    // Takes the task's current times as its key: in place when its neighbours stay its
    // neighbours, as a moved task's mostly do.
    void rekey(Task *task);
    void clear();

    // Every member other than the task that the task overlaps (Task::overlaps, the task being
    // "this"), in no particular order.
    void overlapping(const Task &task, std::vector<Task *> &out) const;
    // Neighbours by key (start, then identity), for walking the group in time: the first member
    // at or after a start, the first one after a member, the last one before a start or member.
    [[nodiscard]] Task *atOrAbove(double start, const Task *task) const { return ceiling(start, task, true); }
    [[nodiscard]] Task *above(double start, const Task *task) const { return ceiling(start, task, false); }
    [[nodiscard]] Task *below(double start, const Task *task) const;
    // The earliest start at or after a time among the members other than one task; none: +inf.
    [[nodiscard]] double earliestStartFrom(double time, const Task *except) const;
    // The latest end at or before a time among the members other than one task; none: -inf.
    [[nodiscard]] double latestEndUpTo(double time, const Task *except) const;

private:
    struct Node {
        double start;
        double end;
        double maxEnd;
        Task *task;
        quint32 priority;
        int left = -1;
        int right = -1;
        int parent = -1;
    };

    [[nodiscard]] bool less(int a, double start, const Task *task) const;
    [[nodiscard]] Task *ceiling(double start, const Task *task, bool inclusive) const;
    void update(int node);
    // Recomputes maxEnd from the node up, as far as it changes.
    void raise(int node);
    [[nodiscard]] int predecessor(int node) const;
    [[nodiscard]] int successor(int node) const;
    void setRoot(int node);
    void split(int node, double start, const Task *task, int &left, int &right);
    int merge(int left, int right);
    void stab(int node, double time, const Task *except, std::vector<Task *> &out) const;
    void range(int node, double low, double high, const Task *except, std::vector<Task *> &out) const;
    void endingAfter(int node, double time, std::vector<Task *> &out) const;
    bool earliestFrom(int node, double time, const Task *except, double &best) const;
    void latestUpTo(int node, double time, const Task *except, double &best) const;

    std::vector<Node> m_nodes;
    std::vector<int> m_free;
    int m_root = -1;
    int m_negative = 0; // members that end before they start
    quint32 m_seed = 0x9e3779b9u;
};
