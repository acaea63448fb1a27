// The temporary files that a file replacement is built in, and removing
// those a process left behind when it was killed between writing one and
// renaming it over its target.
#pragma once

#include <string>

// The name of the temporary file for replacing the file `name`, in the same
// folder: hidden and named after this process, ".<name>.<process id>.tmp",
// so that two processes never share one.
std::string temporaryNameFor(const std::string& name);

// Removes from `folder` (not its sub-folders) the temporary files of
// processes that no longer run: regular files named ".<name>.<process
// id>.tmp" whose process id belongs to no running process, or to this
// process itself (call it at start, before writing anything), and whose
// <name> `replaces` accepts. Files of running processes are kept. Returns
// how many were removed.
int removeStaleTemporaryFiles(const std::string& folder, bool (*replaces)(const std::string& name));
