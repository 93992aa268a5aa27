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

bool mayHaveArrived(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
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
