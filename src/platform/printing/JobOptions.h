#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// The job attributes a page is sent with, as IPP attribute and value ("sides",
// "two-sided-long-edge"), each sent even when it is the plain value, so that a queue's
// default never decides silently.
using JobOptions = QList<QPair<QString, QString>>;

// The attributes the station can send, in the order it sends and shows them.
QStringList printOptionAttributes();

// The options of each page type: the cover's, and the samples page's.
struct PageTypeOptions
{
    JobOptions cover;
    JobOptions samples;
    const JobOptions &forPage(const QString &printType) const
    {
        return printType.compare(QLatin1String("COVER"), Qt::CaseInsensitive) == 0 ? cover : samples;
    }
};

// The options with those of `chosen` in place of theirs, in the order the station sends them.
JobOptions withChosenOptions(const JobOptions &options, const JobOptions &chosen);
// "media-source=tray-2", as typed on a command line, read into `option`; false, with
// `error`, for an attribute the station does not send or an empty value.
bool parseOption(const QString &text, QPair<QString, QString> *option, QString *error);

// "media-source=tray-2 sides=one-sided copies=1", as the register and the log show them.
QString describeOptions(const JobOptions &options);
// The attributes of printOptionAttributes() that the options leave to the queue.
QStringList attributesNotSet(const JobOptions &options);
