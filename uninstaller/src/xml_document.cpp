#include "xml_document.h"

#include <QDomNodeList>
#include <QFile>

namespace appinstaller {

namespace {

// Refuses entity declarations: the configuration never needs them, and they are the way to make a
// small file expand without bound. External DTDs are never fetched by the parser.
bool ParseWithoutEntities(QDomDocument& document, QFile& file)
{
    const QByteArray data = file.readAll();
    return !data.contains("<!ENTITY") && document.setContent(data);
}

}  // namespace

bool XmlDocument::Load(const QString& fileName)
{
    if (fileName.isNull())
        return false;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    m_document = QDomDocument();
    m_element = ParseWithoutEntities(m_document, file) ? m_document.documentElement() : QDomElement();
    return true;
}

XmlDocument XmlDocument::FindElement(const QString& tag) const
{
    if (!m_element.hasChildNodes())
        return XmlDocument(m_document, QDomElement());
    return XmlDocument(m_document, m_element.elementsByTagName(tag).item(0).toElement());
}

int XmlDocument::ChildCount(const QDomNode& node)
{
    int count = 0;
    for (QDomNode n = node.firstChild(); !n.isNull(); n = n.nextSibling())
        count += n.isElement() ? 1 : 0;
    return count;
}

QDomElement XmlDocument::ChildElementAt(const QDomNode& node, int index)
{
    for (QDomElement e = node.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (index-- == 0)
            return e;
    }
    return QDomElement();
}

QString XmlDocument::ReadText(const QDomElement& element)
{
    for (QDomNode n = element.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isText())
            return n.toText().data();
    }
    return QString();
}

}  // namespace appinstaller
