#pragma once

#include <QElapsedTimer>

// A change we asked the server for whose answer is still on its way. What the server reports
// meanwhile, naming something else, comes from before the request and is stale; a report of
// what was asked, or any report once the server had time enough, ends the wait.
template<class T>
class RdpPendingAnswer
{
public:
    void sent(const T &value)
    {
        asked = value;
        since.start();
    }

    bool isStale(const T &reported)
    {
        if (since.isValid() && !since.hasExpired(WaitMs) && !(reported == asked))
            return true;
        since.invalidate();
        return false;
    }

private:
    static constexpr qint64 WaitMs = 2000;

    T asked{};
    QElapsedTimer since;
};
