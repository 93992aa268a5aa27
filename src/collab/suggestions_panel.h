#pragma once

#include <QWidget>

#include <functional>

class BusyIndicator;
class QLabel;
class QPushButton;
class QProgressBar;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;
class ServiceClient;
class SuggestionsPanelModel;
class SyncEngine;
struct SuggestionDTO;

// The page's suggestions sidebar, 360 wide beside the block list: the pending suggested edits as
// cards with "Reject" and "Accept". It loads when shown; closing it discards everything.
class SuggestionsPanel : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 360;
    static constexpr int kPreviewLines = 4;
    static constexpr const char *kTitle = "Suggestions";
    static constexpr const char *kNote =
        "Edits proposed by people with 'Suggest' role. Accept to apply them, reject to dismiss.";
    static constexpr const char *kEmptyTitle = "No suggestions";
    static constexpr const char *kEmptyDescription =
        "When collaborators with 'Suggest' role propose changes, they appear here.";
    static constexpr const char *kReject = "Reject";
    static constexpr const char *kAccept = "Accept";

    SuggestionsPanel(ServiceClient &client, SyncEngine *engine, std::function<qint64()> pageServerID,
                     std::function<void()> onClose, QWidget *parent = nullptr);

    SuggestionsPanelModel &model() const { return *m_model; }
    QToolButton *reloadButton() const { return m_reload; }
    QToolButton *closeButton() const { return m_close; }
    QLabel *errorLabel() const { return m_error; }
    // The area's page shown now: the spinner, the error, the empty state or the list.
    QWidget *shownArea() const;
    QWidget *emptyState() const { return m_empty; }
    QWidget *list() const;
    // The cards, in list order; each names its suggestion by the property "suggestionID".
    QList<QWidget *> cards() const;

    // `text` cut to `lines` lines of `width` pixels in `font`, ending in an ellipsis when cut.
    static QString elidedToLines(const QString &text, const QFont &font, int width, int lines);

private:
    void render();
    void renderList();
    void renderActing();
    QWidget *card(const SuggestionDTO &suggestion, QWidget *parent);

    SuggestionsPanelModel *m_model;
    BusyIndicator *m_busy;
    QToolButton *m_reload;
    QToolButton *m_close;
    QStackedWidget *m_area;
    QWidget *m_spinner;
    QLabel *m_error;
    QWidget *m_empty;
    QScrollArea *m_scroll;
    QWidget *m_listHolder;
    QVBoxLayout *m_list;
    int m_renderedVersion = -1;
};
