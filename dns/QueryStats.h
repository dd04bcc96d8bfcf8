#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// The server's questions over the last hour, per minute: those a rule answered, those passed on
// (SERVFAIL), and the names answered most often. Memory stays bounded whatever the traffic: a ring
// of one bucket per minute, each holding at most namesPerMinute names as a Misra-Gries summary, so
// a name asked more than 1/(namesPerMinute + 1) of a minute's answered questions is always kept, and
// the counts are exact while a minute has no more names than that.
class QueryStats {
public:
    static constexpr int minutes = 60;
    static constexpr int namesPerMinute = 256;

    // The minute (minutes since the epoch) that counts go to from now on; the panel sets it from a
    // one-second timer, tests set any. Minutes older than the last 60 drop out.
    void setMinute(qint64 minute);
    // A question a rule answered; the name as asked, counted lower-cased.
    void answered(const QByteArray &name);
    // A question no rule answered (SERVFAIL).
    void passedOn() { ++ring[at].passed; }

    struct Hour {
        std::array<quint64, minutes> answered{}; // oldest first; the last is the current minute
        std::array<quint64, minutes> passed{};
        quint64 totalAnswered = 0;
        quint64 totalPassed = 0;
        QList<QPair<QByteArray, quint64>> top; // most answered first; ties by name
    };
    Hour lastHour(int topCount = 10) const;
    // Names held over all minutes (the memory bound).
    std::size_t trackedNames() const;

private:
    // A minute's names, lower-cased (ASCII) as they come in, with their counts: an open-addressed
    // table of twice namesPerMinute slots over one string of the names. A question costs a hash of
    // its name, taken and lower-cased a word at a time, and one comparison: no allocation, no copy.
    class NameCounts {
    public:
        void add(const QByteArray &name);
        int size() const { return used; }
        // Adds each held name's count to `into`.
        void addTo(QHash<QByteArray, quint64> &into) const;

    private:
        struct Slot {
            quint64 hash = 0;
            quint64 count = 0; // 0: free
            quint32 at = 0;    // in `text`
            quint32 size = 0;
        };
        void insert(quint64 hash, const char *name, quint32 size, quint64 count);
        // Misra-Gries: one count of every held name goes, and names left without one.
        void decrementAll();

        std::vector<Slot> table; // none until the minute's first name
        std::string text;
        int used = 0;
    };
    struct Bucket {
        quint64 minute = 0; // in the ring's own count (`now`)
        quint64 answered = 0;
        quint64 passed = 0;
        NameCounts names;
    };

    // The ring counts minutes by the clock's steps forward: a clock set back keeps the hour shown
    // (the current minute, or a new one after a step back of more than a minute), and a minute the
    // clock shows a second time gets a bucket of its own rather than adding to the old one.
    quint64 now = 0;
    qint64 clock = 0; // the minute last given to setMinute
    int at = 0;       // the current bucket, now % minutes
    std::array<Bucket, minutes> ring;
};
