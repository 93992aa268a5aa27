#pragma once

#include <QNetworkReply>

#include <curl/curl.h>

// The QNetworkReply error of a transfer libcurl ended with `code`. Every failure of the exchange
// maps below 200, where APIClient counts it as a transport failure even after a status arrived.
QNetworkReply::NetworkError networkErrorOfCurl(CURLcode code);

// The error the manager reports beside an HTTP status it does not count as success.
QNetworkReply::NetworkError networkErrorOfStatus(int status);
