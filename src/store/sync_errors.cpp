#include "store/sync_errors.h"

#include "api/api_error.h"
#include "json/json_error.h"

namespace SyncErrors {

std::optional<int> httpStatus(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        if (a.kind() == APIError::Kind::Http)
            return a.status();
    } catch (...) {
    }
    return std::nullopt;
}

bool isUnauthorized(const std::exception_ptr &e)
{
    return httpStatus(e) == 401;
}

bool mayHaveArrived(const std::exception_ptr &e)
{
    // Whatever the error says: libcurl sends a request again on a fresh connection when the kept one
    // died before any answer, and reports that second try's refused connect or failed lookup, while
    // the first may have reached the service. A request whose connection never opened never left.
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.kind() == APIError::Kind::Network && a.mayHaveLeft();
    } catch (...) {
        return false;
    }
}

QString describe(const std::exception_ptr &e)
{
    try {
        std::rethrow_exception(e);
    } catch (const APIError &a) {
        return a.errorDescription();
    } catch (const DecodeError &d) {
        return d.message();
    } catch (const std::exception &x) {
        return QString::fromUtf8(x.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
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
