#include "store/template_store.h"

#include "json/json_coder.h"
#include "platform/diag.h"
#include "platform/settings.h"

#include <algorithm>

namespace {

const QString kKey = QStringLiteral("pn.templates");
const QString kUnreadableKey = QStringLiteral("pn.templates.unreadable");

} // namespace

TemplateStore::TemplateStore(Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    load();
}

void TemplateStore::load()
{
    const auto text = m_settings.jsonText(kKey);
    if (!text)
        return;
    try {
        m_templates = sharedJSONDecode<std::vector<PageTemplate>>(*text);
    } catch (const DecodeError &e) {
        keepUnreadable(*text, e.message());
    }
}

// The next add or delete rewrites "pn.templates"; the user's old list must survive that.
void TemplateStore::keepUnreadable(const QByteArray &text, const QString &reason)
{
    QString key = kUnreadableKey;
    for (int n = 2; m_settings.contains(key); ++n) {
        if (m_settings.jsonText(key) == text)
            return; // kept by an earlier run
        key = kUnreadableKey + QLatin1Char('-') + QString::number(n);
    }
    m_settings.setJSONText(key, text);
    m_settings.sync();
    diag(QStringLiteral("TemplateStore: stored templates could not be read (%1); kept under %2")
             .arg(reason, key));
}

void TemplateStore::setTemplates(std::vector<PageTemplate> templates)
{
    m_templates = std::move(templates);
    Q_EMIT templatesChanged();
}

void TemplateStore::add(const PageTemplate &pageTemplate)
{
    std::erase_if(m_templates, [&](const PageTemplate &t) { return t.id == pageTemplate.id; });
    m_templates.push_back(pageTemplate);
    Q_EMIT templatesChanged();
    save();
}

void TemplateStore::save()
{
    try {
        m_settings.setJSONText(kKey, sharedJSONEncode(m_templates));
        m_settings.sync();
    } catch (const EncodeError &) {
        // Nothing is stored; the earlier list stays.
    }
}
