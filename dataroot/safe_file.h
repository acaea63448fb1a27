// Reading the files of a data root whatever they turn out to be. A data root
// is plain files that anyone can edit, share or restore, so a file the
// program expects may be a FIFO, a device, a socket, a folder, a symbolic
// link leading out of the root, or something endless. Every file the viewer
// and the tools read goes through here: opened without blocking, used only
// when it is a regular file, and only up to a size that fits its kind.
// Nothing here touches OpenGL.
#pragma once

#include <cstddef>
#include <string>

// The size caps, one for each kind of file, in bytes. A file over its cap
// cannot be read.
// - State files, template files, link files, the channel count record and
//   the scratch files of the thumbnail batch copy hold a number or a short
//   path: 16 KiB.
constexpr std::size_t stateFileLimit = 16u << 10;
// - Images (thumbnails, scene images, images named by models), and every
//   file the viewer copies: 16 MiB, room for the largest image the pixel cap
//   allows at high quality.
constexpr std::size_t imageFileLimit = 16u << 20;
// - The URL directory VESTRALUME/links.tsv, model files and material
//   libraries: 64 MiB.
constexpr std::size_t tableFileLimit = 64u << 20;

// The pixel cap: an image wider or higher than this is refused from its
// header, before any decoding, and shows its placeholder as a damaged one
// does. 4096 x 4096 pixels take 48 MiB decoded; a thumbnail needs far less.
constexpr int maxImageSide = 4096;

enum FileOutcome {
    fileRead,         // the bytes were read
    fileMissing,      // nothing of that name (or a folder on the way is missing)
    fileNotRegular,   // a FIFO, a device, a socket or a folder
    fileTooLarge,     // more bytes than the cap of its kind
    fileOutside,      // the path leads out of its folder (see below)
    fileUnreadable    // no permission, a read error, no memory left
};

// Why a file could not be read, as the end of a sentence naming it:
// "is missing", "is not a regular file (a FIFO, device, socket or folder)"...
std::string describeFileOutcome(FileOutcome outcome, std::size_t limit);

// How a path is resolved, the same for every reader:
// - a data-root path, "VESTRALUME/..." (after any leading "./"), is resolved
//   beneath the data root VESTRALUME/ of the working directory: no ".."
//   component, and no symbolic link below the root that leads out of it (the
//   root folder itself may be a link). Links that stay inside are followed.
// - a plain name without '/' is a file of the working directory itself, and
//   never a symbolic link.
// - any other path is opened as given (tools and tests pointed at a folder).
// In every case the file is opened without blocking (a FIFO without a writer
// cannot hold the program up) and close-on-exec.

// Reads the whole file into `bytes` when it is a regular file of at most
// `limit` bytes; otherwise `bytes` is left empty and the outcome says why.
FileOutcome readLimitedFile(const std::string& path, std::size_t limit, std::string& bytes);

// The same for `relative` beneath the folder `root`: a relative path without
// "..", and no symbolic link on the way may lead out of `root`.
FileOutcome readFileBeneath(const std::string& root, const std::string& relative,
                            std::size_t limit, std::string& bytes);

// Whether `path` is a data-root path that stays inside the root by its text:
// "VESTRALUME/" (after any leading "./") and a name, no ".." component. What
// a path from a state file must be.
bool isDataRootPath(const std::string& path);

// The part of a data-root path below the root ("1/5.Quillon" for
// "VESTRALUME/1/5.Quillon"), or empty when isDataRootPath says no.
std::string belowDataRoot(const std::string& path);

// Whether `path` is a plain name of a file in the working directory.
bool isWorkingDirectoryName(const std::string& path);

#ifndef _WIN32
// For replacing the file `path` in one step: opens the folder holding it,
// resolved by the rules above, and sets `name` to the file's name in it.
// Returns the folder's descriptor (close-on-exec; the caller closes it), or
// -1 when the folder cannot be reached or lies outside.
int openContainingFolder(const std::string& path, std::string& name);
#endif
