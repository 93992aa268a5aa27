#pragma once

#include "fake-service/fake_service.h"

#include <QObject>

#include <map>
#include <optional>

// The upload endpoint of the fake service: takes a real multipart body, keeps the file and serves it
// back under the URL it answers with. Lives as a child of its FakeService.
class FakeUploadRoutes : public QObject
{
    Q_OBJECT

public:
    struct File {
        QString kind;
        QString name; // the part's filename as sent
        QByteArray mime;
        QByteArray data;
    };

    explicit FakeUploadRoutes(FakeService &service);

    static FakeUploadRoutes &of(FakeService &service);

    // Bodies larger than this are refused with 413, as the service's PHP limits do.
    void setMaxUploadBytes(qsizetype bytes) { m_maxBytes = bytes; }
    const std::map<qint64, File> &files() const { return m_files; }
    // Keeps a file as an upload would and returns the address it is served at (images for tests).
    QString store(File file);

    // The one part named "file" of a multipart body, or nothing when the body is malformed.
    static std::optional<File> parseFilePart(const QByteArray &contentType, const QByteArray &body);

private:
    HttpResponse upload(const FakeService::Call &call);
    HttpResponse serve(const FakeService::Call &call) const;

    FakeService &m_service;
    std::map<qint64, File> m_files;
    qint64 m_nextId = 1;
    qsizetype m_maxBytes = 20 * 1024 * 1024;
};
