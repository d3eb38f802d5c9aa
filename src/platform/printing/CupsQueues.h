#pragma once

#include <QString>
#include <QStringList>

// The queues a CUPS server offers, by name; empty when it cannot be reached (within a few
// seconds) or the station was built without CUPS. It blocks: call it off the window's thread.
QStringList cupsQueueNames(const QString &server);
