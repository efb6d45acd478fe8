#include "exchange/ImportNotes.h"

void ImportNotes::add(const QString& what, int count)
{
    for (auto& item : m_items) {
        if (item.first == what) {
            item.second += count;
            return;
        }
    }
    m_items.append({what, count});
}

void ImportNotes::merge(const ImportNotes& other)
{
    for (const auto& item : other.m_items)
        add(item.first, item.second);
}

int ImportNotes::count(const QString& what) const
{
    for (const auto& item : m_items) {
        if (item.first == what)
            return item.second;
    }
    return 0;
}

QString ImportNotes::text() const
{
    QString text = QStringLiteral("导入的文件中有些内容超出了允许的范围或无法使用，已做如下处理：");
    for (const auto& item : m_items)
        text += QStringLiteral("\n• %1（%2 处）").arg(item.first).arg(item.second);
    return text;
}
