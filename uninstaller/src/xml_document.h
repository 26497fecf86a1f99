#pragma once
// A small read-only view of an XML file: the document and an element of it.
#include <QDomDocument>
#include <QDomElement>
#include <QString>

namespace appinstaller {

class XmlDocument {
public:
    XmlDocument() = default;
    XmlDocument(const QDomDocument& document, const QDomElement& element)
        : m_document(document), m_element(element) {}

    // False when the name is null or the file cannot be opened; a parse error leaves the root (the
    // element) null.
    bool Load(const QString& fileName);

    // First element with this tag anywhere below this handle's element (document order).
    XmlDocument FindElement(const QString& tag) const;
    const QDomElement& Element() const { return m_element; }

    static int ChildCount(const QDomNode& node);
    static QDomElement ChildElementAt(const QDomNode& node, int index);
    static QString GetText(const QDomElement& element) { return ReadText(element); }

private:
    static QString ReadText(const QDomElement& element);

    QDomDocument m_document;  // keeps the element's nodes alive
    QDomElement m_element;    // the root after Load; any element for a handle
};

}  // namespace appinstaller
