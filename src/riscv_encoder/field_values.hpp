#pragma once
// The value of every instruction field that any row can name, in the form in
// which it is ORed into the word. Rows refer to fields by name; the names are
// resolved to slots once, when the table is compiled.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace riscv_encoder::encode {

enum Slot : std::uint8_t {
  kRd, kRs1, kRs2, kRs3, kVd, kVs1, kVs2, kVs3, kCsr, kFm, kPred, kSucc, kRm, kVm, kNf,
  kImm12, kImm12Hi, kImm12Lo, kBimm12Hi, kBimm12Lo, kImm20, kJimm20, kSimm5, kZimm5, kZimm6Hi, kZimm6Lo,
  kZimm10, kZimm11, kImm5, kShamtW, kShamtD, kAq, kRl, kBs, kRnum, kPUimm, kPRdP, kPRs1P, kPRs2P, kRs2E,
  kMopRT30, kMopRT2726, kMopRT2120, kMopRrT30, kMopRrT2726, kRdP, kRs1P, kRs2P, kCImm12, kCNzimm6Hi,
  kCNzimm6Lo, kCBimm9Hi, kCBimm9Lo, kCNzimm10Hi, kCNzimm10Lo, kCNzimm18Hi, kCNzimm18Lo, kCNzuimm10, kCUimm1,
  kCUimm2, kCUimm7Hi, kCUimm7Lo, kCUimm8Hi, kCUimm8Lo, kCUimm8SpS, kCUimm8SpHi, kCUimm8SpLo, kCUimm9SpS,
  kCUimm9SpHi, kCUimm9SpLo, kCNzuimm6Hi, kCNzuimm6Lo, kCNzuimm5, kCMopT, kCRlist, kCSpimm, kCSreg1, kCSreg2,
  kCIndex, kSlotCount,
};

inline constexpr std::uint8_t kNoSlot = 0xFF;

struct SlotNames {
  std::string_view name;
  std::array<std::string_view, 3> also;  // other field names that read the same slot
};

inline constexpr std::array<SlotNames, kSlotCount> kSlotNames{{
    {"rd", {"rd_n0", "rd_n2", "rd_rs1_n0"}}, {"rs1", {"rs1_n0", "c_rs1_n0"}}, {"rs2", {"c_rs2", "c_rs2_n0"}},
    {"rs3", {}}, {"vd", {}}, {"vs1", {}}, {"vs2", {}}, {"vs3", {}}, {"csr", {}}, {"fm", {}}, {"pred", {}},
    {"succ", {}}, {"rm", {}}, {"vm", {}}, {"nf", {}}, {"imm12", {}}, {"imm12hi", {}}, {"imm12lo", {}},
    {"bimm12hi", {}}, {"bimm12lo", {}}, {"imm20", {}}, {"jimm20", {}}, {"simm5", {}}, {"zimm5", {}},
    {"zimm6hi", {}}, {"zimm6lo", {}}, {"zimm10", {}}, {"zimm11", {}}, {"imm5", {}}, {"shamtw", {}},
    {"shamtd", {}}, {"aq", {}}, {"rl", {}}, {"bs", {}}, {"rnum", {}}, {"p_uimm", {}}, {"p_rd_p", {}},
    {"p_rs1_p", {}}, {"p_rs2_p", {}}, {"rs2_e", {}}, {"mop_r_t_30", {}}, {"mop_r_t_27_26", {}},
    {"mop_r_t_21_20", {}}, {"mop_rr_t_30", {}}, {"mop_rr_t_27_26", {}}, {"rd_p", {"rd_rs1_p"}}, {"rs1_p", {}},
    {"rs2_p", {}}, {"c_imm12", {}}, {"c_nzimm6hi", {"c_imm6hi"}}, {"c_nzimm6lo", {"c_imm6lo"}},
    {"c_bimm9hi", {}}, {"c_bimm9lo", {}}, {"c_nzimm10hi", {}}, {"c_nzimm10lo", {}}, {"c_nzimm18hi", {}},
    {"c_nzimm18lo", {}}, {"c_nzuimm10", {}}, {"c_uimm1", {}}, {"c_uimm2", {}}, {"c_uimm7hi", {}},
    {"c_uimm7lo", {}}, {"c_uimm8hi", {}}, {"c_uimm8lo", {}}, {"c_uimm8sp_s", {}}, {"c_uimm8sphi", {}},
    {"c_uimm8splo", {}}, {"c_uimm9sp_s", {}}, {"c_uimm9sphi", {}}, {"c_uimm9splo", {}}, {"c_nzuimm6hi", {}},
    {"c_nzuimm6lo", {}}, {"c_nzuimm5", {}}, {"c_mop_t", {}}, {"c_rlist", {}}, {"c_spimm", {}},
    {"c_sreg1", {}}, {"c_sreg2", {}}, {"c_index", {}},
}};

// The P-extension immediates of every width share one slot.
constexpr bool pUimmField(std::string_view name) noexcept {
  return name.starts_with("p_w_uimm") || name.starts_with("p_imm");
}

// The slot a field name reads, kNoSlot for a name no slot answers. A name
// "a=b" is a field at the position of a that repeats the value of b.
constexpr std::uint8_t slotOf(std::string_view name) noexcept {
  if (const auto equals = name.find('='); equals != std::string_view::npos) return slotOf(name.substr(equals + 1));
  for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
    if (kSlotNames[slot].name == name) return static_cast<std::uint8_t>(slot);
    for (std::size_t other = 0; other < kSlotNames[slot].also.size(); ++other)
      if (!kSlotNames[slot].also[other].empty() && kSlotNames[slot].also[other] == name)
        return static_cast<std::uint8_t>(slot);
    if (slot == kPUimm && pUimmField(name)) return static_cast<std::uint8_t>(slot);
  }
  return kNoSlot;
}

struct RiscvFieldValues {
  std::array<std::uint32_t, kSlotCount> slots{};

  constexpr std::uint32_t& operator[](Slot slot) noexcept { return slots[slot]; }
  constexpr std::uint32_t operator[](Slot slot) const noexcept { return slots[slot]; }
};

}  // namespace riscv_encoder::encode
