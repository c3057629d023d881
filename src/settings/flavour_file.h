#pragma once
// The flavour-file reader and writer over a choice of target: the fields a
// preference table points at, or the same fields of another settings record.
#include <functional>

#include "platform/files.h"
#include "platform/preference.h"
#include "platform/xml.h"

namespace TavPDF {

// The document type of activities documents (flavour files).
Xml::Dtd BuildActivitiesDtd();

// The address of the field a row stands for; null passes the row over.
using FieldResolver = std::function<void*(const TavGen::PreferenceEntry&)>;

int SaveFlavour(const TavSys::FileSpec& target, const TavGen::PreferenceEntry* table,
                const FieldResolver& resolve);
int LoadFlavour(const TavSys::FileSpec& source, const TavGen::PreferenceEntry* table,
                const FieldResolver& resolve);
// The same over bytes already in memory (`label` names them in messages).
int LoadFlavourFromBytes(std::string_view bytes, std::string_view label,
                         const TavGen::PreferenceEntry* table, const FieldResolver& resolve);

}  // namespace TavPDF
