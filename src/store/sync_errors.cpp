#include "store/sync_errors.h"

#include "api/api_error.h"

namespace SyncErrors {

bool isUnauthorized(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.kind() == APIError::Kind::Http && a.status() == 401;
    } catch (...) {
        return false;
    }
}

bool mayHaveArrived(const std::exception_ptr &e)
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        if (a.kind() != APIError::Kind::Network || !a.mayHaveLeft())
            return false;
        error = a.networkError();
    } catch (...) {
        return false;
    }
    switch (error) {
    // Told before the request could go anywhere, whoever made the reply. A broken connection or
    // session may have carried it first.
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
    case QNetworkReply::SslHandshakeFailedError:
        return false;
    default:
        return true;
    }
}

bool isCancelled(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.kind() == APIError::Kind::Network &&
               a.networkError() == QNetworkReply::OperationCanceledError;
    } catch (...) {
        return false;
    }
}

bool isNoToken(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.kind() == APIError::Kind::NoToken;
    } catch (...) {
        return false;
    }
}

} // namespace SyncErrors
