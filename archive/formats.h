// Factories of the format handlers; each returns null when memory runs out.
#pragma once

class ArchiveHandler;

ArchiveHandler *createUkArchiveHandler();
ArchiveHandler *createArcArchiveHandler();
