#pragma once

// Deletes the toolkit's binaries from the system directory a 32-bit process uses, each library
// first asked to remove its own registration.
void DeleteKorvaneFiles();

// Deletes the toolkit's files from the browser's "Downloaded Program Files" folder.
void DeleteKorvaneOSDFiles();
