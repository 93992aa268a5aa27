#pragma once

#include "json/json_value.h"
#include "store/fn_block.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class AppEvents;
class AudioRecorder;
class DatabaseRowUpdates;
class FilePicker;
class KeptRecordings;
class LocalStore;
class QObject;
class ServiceClient;
class ToastCenter;
class UrlOpener;

// What the uploads and the bookmark preview need; without them those actions do nothing.
struct BlockServices {
    ServiceClient *client = nullptr; // under the session
    ToastCenter *toasts = nullptr;
    std::shared_ptr<FilePicker> filePicker;
    QPointer<QWidget> dialogParent;
    // The links of bookmarks and embeds, a button's address, an attached file's address.
    UrlOpener *urlOpener = nullptr;
    AppEvents *events = nullptr; // a button's AI prompt
    // Makes the recorder of an audio block, owned by `parent`; the microphone's when unset.
    std::function<AudioRecorder *(QObject *parent)> makeRecorder;
    // Where a voice note waits until the service has it; without it a failed upload leaves the
    // recording in the temporary folder.
    KeptRecordings *recordings = nullptr;
    // The database rows whose update is out, for every view of them; without it each view keeps
    // its own.
    DatabaseRowUpdates *databaseRows = nullptr;
};

// A block as its kind sees it from inside its row: the content as stored now, a way to write it
// later, and the services. The editor's row fills it in.
class BlockHost
{
public:
    using ContentEdit = std::function<void(JSONObject &)>;
    // Applies an edit to the content as stored when it runs; false when the block is no longer
    // stored (or the store was reset since).
    using ContentWriter = std::function<bool(const ContentEdit &)>;

    virtual ~BlockHost() = default;

    // The block as the store holds it now.
    virtual FNBlock currentBlock() const = 0;
    virtual JSONObject decodeContent() const = 0;
    // Stores the whole object; false, with nothing written, when it cannot be encoded.
    virtual bool saveContent(const JSONObject &content) = 0;
    // For work that outlives the row: it writes through the row while the row lives, else into
    // the store by the block's id.
    virtual ContentWriter laterWriter() = 0;
    // False while signed out, or without a client.
    virtual bool isSignedIn() const = 0;
    virtual const BlockServices &services() const = 0;
    // The store the block lives in, for the kinds that show other records (page links, contents,
    // breadcrumbs, mirrors); they only read it. Null once the store is gone.
    virtual const LocalStore *store() const = 0;
    // The view is done with typing (an address stored, a page picked): the keyboard moves on to
    // the block below, as after picking a kind without text.
    virtual void passKeyboardOn() = 0;
    // Makes one column's content of a columns block (column index, column count); empty where the
    // block shows outside a page.
    virtual std::function<QWidget *(int, int)> columnContent() const { return {}; }
    // The quiet period after a user's last change before a kind writes or sends it (the row's own
    // text delay, 0.7 s in the app).
    virtual std::chrono::milliseconds editDelay() const { return std::chrono::milliseconds(700); }

    // One write: the content as stored now, edited.
    bool editContent(const ContentEdit &edit);

    // A kind's typed content (a struct with `read(const JSONObject &)` and `write(JSONObject &)`).
    template <class Content>
    Content read() const
    {
        return Content::read(decodeContent());
    }
    // Writes the typed content's keys; the keys it does not know stay as stored.
    template <class Content>
    bool write(const Content &content)
    {
        return editContent([&content](JSONObject &object) { content.write(object); });
    }
};
