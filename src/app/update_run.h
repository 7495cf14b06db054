#pragma once

// The update run: checks the request, then the fixed sequence of steps, and
// answers the process exit code. Exceptions pass through to the caller.
int RunUpdate(int argumentCount, const wchar_t* const* arguments);

// The entry point's catch-all around RunUpdate: an escaping exception writes
// the unexpected-error text when argument 8 is an absolute path and answers 7.
int RunUpdateCatchingAll(int argumentCount, const wchar_t* const* arguments);
