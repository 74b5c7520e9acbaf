#pragma once
// Remembered template searches. Within one run of instructions most lines
// repeat a few operand shapes; a line whose operands, mode and prefixes read
// exactly as an earlier line's grades every template as that line did, so it
// takes the earlier line's template without a search.

#include <array>
#include <cstdint>

#include "x86_encoder/instruction.hpp"
#include "x86_encoder/tables.hpp"

namespace x86_encoder::match {

// Everything grading reads of one instruction, except what only a relaxable
// jump's distance test reads (those mnemonics are never remembered), packed
// into words: the opcode with the counts, option flags and sizes; the four
// prefix words that grading reads, sixteen bits each (every prefix code is
// below 2^16); and two words per operand, its class word and its decorators,
// required flag, kind and address registers.
inline constexpr std::size_t kMemoHeadWords = 2;
inline constexpr std::size_t kMemoKeyWords = kMemoHeadWords + 2 * api::kMaxOperands;

// Words past the operands are zero, so that every key is compared and hashed
// whole, without a loop whose length changes from line to line; the operand
// count in the first word keeps keys of different lengths apart.
struct MemoKey {
  std::array<std::uint64_t, kMemoKeyWords> words{};
};

// An empty slot's key is all zero, which no instruction's key is: the first
// word holds the mode's bits. A search only ever adds one size bit to an
// operand's class word, so the entry keeps that bit's position, and a hit
// reads two cache lines. They also hold a copy of the template's program,
// which sizing and generation then read without going to the pool. The memo
// as a whole: x86_encode_bench 1.28M -> 1.95M instructions/s (processor time).
struct alignas(64) MemoEntry {
  std::array<std::uint64_t, kMemoKeyWords> key{};
  std::uint32_t template_index = 0;
  std::uint32_t template_position = 0;
  // Per operand, the position + 1 of the size bit the search added; 0 none.
  std::array<std::uint8_t, api::kMaxOperands> added_size_bit{};
  std::uint8_t program_length = 0;
  std::array<std::uint8_t, tables::kMaxProgramLength> program{};
};
static_assert(sizeof(MemoEntry) == 128);

// One per encode pass or lowering run; the caller owns it. A fixed number of
// slots, each holding the last search whose key hashed there.
struct MatchMemo {
  static constexpr std::size_t kSlots = 512;
  std::array<MemoEntry, kSlots> entries{};
};

// findMatch, answered from the memo when it holds the instruction's key, and
// remembered there when the search succeeds for a mnemonic without relaxable
// jumps.
std::uint32_t findMatchRemembered(api::X86Instruction& instruction, MatchMemo& memo);

}  // namespace x86_encoder::match
