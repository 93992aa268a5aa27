#pragma once

#include "store/page_template.h"
#include "store/template_block.h"

#include <QObject>
#include <QString>

#include <vector>

class Settings;

// The user's page templates, in the order added, kept in the settings under "pn.templates" as the
// JSON text of the whole list. Never sent to the service.
class TemplateStore : public QObject
{
    Q_OBJECT
public:
    // Loads the stored list. A stored value that does not decode loads as no templates; its text is
    // first copied under "pn.templates.unreadable" so that no later save loses it.
    explicit TemplateStore(Settings &settings, QObject *parent = nullptr);

    const std::vector<PageTemplate> &templates() const { return m_templates; }
    // A direct change (deleting a template); persists only through a following save().
    void setTemplates(std::vector<PageTemplate> templates);

    // Replaces any template with the same id, appends it at the end, then saves.
    void add(const PageTemplate &pageTemplate);
    void save();

Q_SIGNALS:
    void templatesChanged();

private:
    void load();
    void keepUnreadable(const QByteArray &text, const QString &reason);

    Settings &m_settings;
    std::vector<PageTemplate> m_templates;
};
