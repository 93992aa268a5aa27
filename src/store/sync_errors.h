#pragma once

#include <QNetworkReply>
#include <QString>

#include <exception>
#include <optional>

// How the engine reads a failed request.
namespace SyncErrors {

// The service's answer, when it gave one.
std::optional<int> httpStatus(const std::exception_ptr &e);
// The service refused the token (HTTP 401).
bool isUnauthorized(const std::exception_ptr &e);
// The session ended before the request was made (APIError::noToken()).
bool isNoToken(const std::exception_ptr &e);
// The cycle's own cancel ended the request: not the operation's fault.
bool isCancelled(const std::exception_ptr &e);
// Whether a request that failed this way may still have reached the service: one that some
// connection carried may have, whatever the error; a time-out, a refused connect or a cancel before
// any connection opened never left.
bool mayHaveArrived(const std::exception_ptr &e);
// What an operation's last error says of the failure.
QString describe(const std::exception_ptr &e);

} // namespace SyncErrors
