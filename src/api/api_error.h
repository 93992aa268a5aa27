#pragma once

#include <QNetworkReply>
#include <QString>

#include <exception>
#include <optional>

// The error of every service call, with the message a screen shows for it.
class APIError : public std::exception
{
public:
    enum class Kind { Http, Network, Decoding, Other, NoToken };

    static APIError http(int status, std::optional<QString> body);
    // `mayHaveLeft`: false when the request certainly never left the device (no connection was open).
    static APIError network(QNetworkReply::NetworkError code, const QString &description,
                            bool mayHaveLeft = true);
    static APIError decoding(const QString &detail);
    static APIError other(const QString &message);
    static APIError noToken();

    Kind kind() const { return m_kind; }
    int status() const { return m_status; }                                     // Http only
    const std::optional<QString> &body() const { return m_body; }               // Http only
    QNetworkReply::NetworkError networkError() const { return m_networkError; } // Network only
    bool mayHaveLeft() const { return m_mayHaveLeft; }                          // Network only
    // The carried text: network description, decoder detail or the other message.
    const QString &detail() const { return m_detail; }

    // The user-facing message; never empty.
    QString errorDescription() const;
    // The user-facing message of any error: an APIError's description, else what() as UTF-8.
    static QString messageOf(const std::exception &error);
    const char *what() const noexcept override { return m_what.constData(); }

private:
    APIError(Kind kind, int status, std::optional<QString> body, QNetworkReply::NetworkError code,
             QString detail);

    Kind m_kind;
    int m_status = 0;
    std::optional<QString> m_body;
    QNetworkReply::NetworkError m_networkError = QNetworkReply::NoError;
    bool m_mayHaveLeft = true;
    QString m_detail;
    QByteArray m_what;
};

// A short message from an error body: the JSON "error" string, at most 200 characters as the
// user perceives them. HTML pages, plain text and other shapes give nothing.
std::optional<QString> serverMessage(const QString &body);
