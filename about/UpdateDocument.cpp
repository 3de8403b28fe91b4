// SPDX-License-Identifier: GPL-3.0-or-later
#include "about/UpdateDocument.h"

#include <QXmlStreamReader>

std::optional<QString> readProgramVersion(const QByteArray& document)
{
    QXmlStreamReader xml(document);
    // The reader resolves no external entities; this caps what internal ones may expand to.
    xml.setEntityExpansionLimit(4096);

    int depth = 0;
    bool infoFound = false, inInfo = false;
    bool versionFound = false, inVersion = false;
    int versionNodes = 0;
    bool versionIsText = false;
    QString text;

    // Only nodes directly inside Program_Version count; the stream gives us depth for that.
    auto countNode = [&](bool isText) {
        if (inVersion && depth == 3) {
            ++versionNodes;
            versionIsText = isText;
        }
    };

    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            countNode(false);
            ++depth;
            if (depth == 2 && !infoFound && xml.name() == u"Program_Info") {
                infoFound = inInfo = true;
            } else if (depth == 3 && inInfo && !versionFound && xml.name() == u"Program_Version") {
                versionFound = inVersion = true;
            }
            break;
        case QXmlStreamReader::EndElement:
            if (depth == 2)
                inInfo = false;
            if (depth == 3)
                inVersion = false;
            --depth;
            break;
        case QXmlStreamReader::Characters:
            // Whitespace between nodes is not a node of its own, as the usual DOM readers
            // drop it; a CDATA section always is one.
            if (xml.isWhitespace() && !xml.isCDATA())
                break;
            if (inVersion && depth == 3)
                text = xml.text().toString();
            countNode(true);
            break;
        case QXmlStreamReader::DTD:
            // A reference to an entity kept outside the document vanishes from the stream
            // without a trace, and we never fetch one; such a document cannot be read as
            // written, so it is refused.
            for (const QXmlStreamEntityDeclaration& entity : xml.entityDeclarations())
                if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty())
                    return std::nullopt;
            break;
        case QXmlStreamReader::Comment:
        case QXmlStreamReader::ProcessingInstruction:
        case QXmlStreamReader::EntityReference:
            countNode(false);
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !infoFound)
        return std::nullopt;
    if (versionNodes == 0)
        return QString();
    if (versionNodes == 1 && versionIsText)
        return text;
    return std::nullopt;
}
