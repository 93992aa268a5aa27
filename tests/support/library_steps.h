#pragma once

#include "fake-service/fake_service.h"
#include "support/test_device.h"

#include <memory>
#include <vector>

// Steps the sidebar's tests share against the fake service.

// A device of the fake signed in to the account, whose workspace is the only one it knows.
inline std::unique_ptr<TestDevice> deviceInWorkspace(const FakeService &fake,
                                                     const FakeService::Account &account,
                                                     const QString &workspaceName = QString())
{
    auto device = std::make_unique<TestDevice>(fake.origin(), account.token);
    FNWorkspace w;
    w.serverID = account.workspaceId;
    w.name = workspaceName;
    device->store().setWorkspaces({w});
    return device;
}

// The requests the fake received at `path` with `method`, oldest first.
inline std::vector<HttpRequest> requestsWith(const FakeService &fake, const QString &path,
                                             const QByteArray &method)
{
    std::vector<HttpRequest> out;
    for (const HttpRequest &r : fake.requestsTo(path)) {
        if (r.method == method)
            out.push_back(r);
    }
    return out;
}

// The fault for the next request only.
inline FakeService::Fault once(FakeService::Fault fault)
{
    fault.remaining = 1;
    return fault;
}

// Stores the folder on the device and, when it has a server id, on the fake service too (id, workspace,
// parent and name only).
inline FNFolder mirrorFolder(FakeService &fake, LocalStore &store, const FNFolder &folder)
{
    if (folder.serverID != 0) {
        FakeServiceState::Folder remote;
        remote.id = folder.serverID;
        remote.workspaceId = folder.workspaceServerID;
        remote.parentFolderId = folder.parentFolderServerID;
        remote.name = folder.name;
        fake.state().folders[remote.id] = remote;
    }
    store.upsertFolder(folder);
    return folder;
}
