#pragma once

#include <cstddef>
#include <string>

struct DiskTask;

// How the photos of a card begin, kept beside the task file ("center.log.heads") as they are
// copied: the XXH64 of each photo's first 64 KiB, taken from the bytes the copy reads anyway.
// Names and sizes alone do not tell a card from another one of the same camera with as many
// photos of the same sizes; a resume reads the heads of a few photos again and compares, without
// a second pass over the card. Text lines: the hash in hex, a tab, the path below the source
// folder escaped as in the failed-files side file; a later line of a path replaces an earlier.
// Appended without a flush: a line lost with the power only leaves its photo out of the sample.
namespace CardHeads {

constexpr size_t HeadSize = 64u << 10;
// Photos read again at a resume, spread over the card.
constexpr int SampleSize = 32;

std::string path(const std::string &taskFile);
// The copy has read data, the first min(size of the file, HeadSize) bytes of entry index.
void note(DiskTask *task, int index, const unsigned char *data, size_t size);
// The same for a photo not copied now (its copy was found verified): its head read from the card.
void noteCard(DiskTask *task, int index);
// The heads of an earlier offload go (a new one starts with this task file).
void clear(const std::string &taskFile);
// How many photos of a sample of the recorded ones begin otherwise in folder now (one that is
// gone or unreadable counts); *sampled receives the sample's size, 0 without records.
int differing(const std::string &taskFile, const std::string &folder, int *sampled);

} // namespace CardHeads
