#include "platform/database/DbConnection.h"

bool isConnectionBroken(const QVector<ProviderMessage> &messages)
{
    for (const ProviderMessage &message : messages) {
        if (message.SqlState.startsWith(QLatin1String("08")))
            return true;
    }
    return false;
}
