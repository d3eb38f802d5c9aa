#include "PrintedOnce.h"

#include <algorithm>

namespace PrintedOnce {

namespace {

struct Repeat
{
    const Print *before;
    const Print *again;
    bool accepted = false;
};

QDateTime handedOver(const Print &print)
{
    return print.submitted.isValid() ? print.submitted : print.completed;
}

// The kill or hang met the client of this print in hand.
bool inHand(const Print &print, const QDateTime &fault)
{
    return fault >= handedOver(print).addMSecs(-kClockSlackMs) && fault <= print.completed.addMSecs(kInHandAfterMs);
}

QString clock(const QDateTime &at)
{
    return at.toString(QStringLiteral("HH:mm:ss"));
}

} // namespace

Judgement judge(QList<Print> prints, QList<QDateTime> stationFaults)
{
    std::sort(prints.begin(), prints.end(), [](const Print &a, const Print &b) {
        return a.client != b.client ? a.client < b.client : a.completed < b.completed;
    });
    std::sort(stationFaults.begin(), stationFaults.end());
    QList<Repeat> repeats;
    for (qsizetype i = 1; i < prints.size(); ++i) {
        if (prints.at(i).client == prints.at(i - 1).client)
            repeats << Repeat { &prints.at(i - 1), &prints.at(i) };
    }
    // A kill or hang accounts for one page at most: that of the client handed over last
    // before it, of those it met in hand.
    for (const QDateTime &fault : std::as_const(stationFaults)) {
        Repeat *inHandAtFault = nullptr;
        for (Repeat &repeat : repeats) {
            if (!repeat.accepted && inHand(*repeat.before, fault)
                && (!inHandAtFault || handedOver(*repeat.before) > handedOver(*inHandAtFault->before)))
                inHandAtFault = &repeat;
        }
        if (inHandAtFault)
            inHandAtFault->accepted = true;
    }
    Judgement judgement;
    for (const Repeat &repeat : std::as_const(repeats)) {
        ++judgement.duplicates;
        if (repeat.accepted)
            ++judgement.acceptedAtKills;
        else
            judgement.unexplained << QStringLiteral("client %1: batch %2 printed at %3, again as batch %4 at %5")
                                         .arg(repeat.before->client, repeat.before->batchId,
                                             clock(repeat.before->completed), repeat.again->batchId,
                                             clock(repeat.again->completed));
    }
    return judgement;
}

} // namespace PrintedOnce
