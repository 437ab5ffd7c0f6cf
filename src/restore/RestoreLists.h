// The restore's comma lists: the escaping of one item and the cutting of a
// list into chunks of about kChunkLimit bytes. Pure functions over the
// items; the caller sends each chunk as one message.
//
// Escaping: "," becomes "%c", "%" becomes "%%", every other byte passes.
// Items are separated by a plain ",". A chunk always holds at least one
// item and never splits one:
//   PreHeaderChunk  the head name (as it is), then "," and each escaped
//                   item; closed after the item that carries it past
//                   kChunkLimit bytes (a chunk of exactly kChunkLimit takes
//                   one more item)
//   PlainChunk      the escaped items joined by ","; closed the same way
//   ArchiveChunk    the escaped items joined by ","; an item is added only
//                   while the chunk is shorter than kChunkLimit
#pragma once

#include <cstddef>
#include <list>
#include <string>

namespace RestoreLists {

const size_t kChunkLimit = 64000;

typedef std::list<std::string> Items;

// One pass over the item's bytes up to its NUL; null gives "".
std::string EscapeComma(const char* item);

// Each builds the chunk that starts at `from` into `chunk` and returns the
// first item not in it (`end` when the chunk took the rest). `count`, when
// given, receives the number of items taken.
Items::const_iterator PreHeaderChunk(Items::const_iterator from, Items::const_iterator end, const std::string& head,
                                     std::string& chunk, size_t* count = nullptr);
Items::const_iterator PlainChunk(Items::const_iterator from, Items::const_iterator end, std::string& chunk,
                                 size_t* count = nullptr);
Items::const_iterator ArchiveChunk(Items::const_iterator from, Items::const_iterator end, std::string& chunk,
                                   size_t* count = nullptr);

}  // namespace RestoreLists

// The restore's escaping of one list item (RestoreLists::EscapeComma).
std::string escapeComma(const char* item);
