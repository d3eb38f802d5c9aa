#include "platform/browser/OriginInterceptor.h"

OriginInterceptor::OriginInterceptor(RequestGuard guard, QObject *parent)
    : QWebEngineUrlRequestInterceptor(parent)
    , m_guard(std::move(guard))
{
}

void OriginInterceptor::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (!m_guard(info))
        info.block(true);
}
