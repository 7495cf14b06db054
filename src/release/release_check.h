#pragma once

// Before a package ships: whether the helper will install it, judged by the
// helper's own code. One line per check, "ok", "refused" (with the outcome
// text and exit code users would get, and what to change) or "note" (what
// cannot be judged, and how it could be), then, when nothing was refused,
// one JSON line with what the editor's update feed needs.
//
// tavoPDFReleaseCheck <package> <msi|exe> <target version> [--publisher-key HEX]...
//                     [--installed-version V] [--trial-install FOLDER]

#include <string>
#include <vector>

// The arguments after the program's own name. 0 when no check refused, 1
// when one did; 2 when nothing could be judged: a command line it cannot read
// (the report then says why and how to call it), a package it cannot open, or
// a check that could not finish (its line says why). The JSON line comes
// only with 0.
int RunReleaseCheck(const std::vector<std::wstring>& arguments, std::wstring& report);
