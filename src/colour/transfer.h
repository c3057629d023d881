#pragma once
// Dot-gain transfer functions: with dot gain enabled every separation gets a
// sampled (Type 0) transfer function built from the settings' dot-gain file;
// the page writer's "TR_<n>" and "TR_CMYK" graphics states select them. Also
// the names of the screening curves every workflow knows.
#include <string>

#include "platform/files.h"

struct jobstr;
class dotjob;
namespace TavPDF {
class pdfouthan;
}

// Writes the transfer function of a separation slot and records it (and its
// 256 sample bytes) in the handler. A file that cannot be used is reported
// ("DOTGAIN NOT FOUND", once per reason and document) and the separation
// gets no function; an ink without a curve gets none either, silently. No
// stream may be open.
void BuildDotgainTransferFunction(TavPDF::pdfouthan* handler, jobstr* job,
                                  const TavSys::filref& dotgainFile, int separation);

// out[k] = 1 - D[255 - k], D being the dot job's table at index: the transfer
// function works on the complement of the ink. False when the dot job has no
// such table.
bool MakeTransferTable(const dotjob* dots, int index, double out[256]);

// Whether a cutback-curve name is one of the user's own: neither a built-in
// curve (exact spelling) nor a press curve ("Tonematch_...").
bool IsCustomCurveName(const std::string& name);
