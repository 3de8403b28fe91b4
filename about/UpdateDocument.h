// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The version text of an update document: the text of the first "Program_Version" child of
// the first "Program_Info" child of the document element (names compared exactly). A missing
// or empty "Program_Version" reads as the empty text. nullopt when the document is not
// well-formed, has no such "Program_Info", or the version element holds anything but one
// text or CDATA node (child elements, a comment beside the text, an unresolved entity).
// Entities are never loaded from outside the document and their expansion is bounded.
std::optional<QString> readProgramVersion(const QByteArray& document);
