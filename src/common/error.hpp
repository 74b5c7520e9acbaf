#pragma once
// The one set of named failures that every part of the assembler reports.
// Names are user-visible ("lowering failed: <name>"), so they are part of the
// interface: add new ones, never rename.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string_view>

namespace qovrin {

#define QOVRIN_ERROR_NAMES(X) \
  X(AccessDenied) \
  X(AmbiguousMemorySize) \
  X(BackendFixupCountMismatch) \
  X(BackendFixupOffsetOverflow) \
  X(BackendOutputMaterializationFailed) \
  X(BroadcastNotAllowedWithRegisterOperand) \
  X(CmpR64ImmediateOutOfRange) \
  X(CollectionTooLarge) \
  X(DivisionByZero) \
  X(DuplicateField) \
  X(DuplicateFieldName) \
  X(DuplicateKey) \
  X(DuplicateMacro) \
  X(DuplicateMetaFunction) \
  X(DuplicateSymbol) \
  X(DuplicateTypeName) \
  X(EmbeddedRoundingRequiresRegister) \
  X(ExpectedEquals) \
  X(ExpectedId) \
  X(ExpectedOperand) \
  X(ExpectedStruct) \
  X(ExpressionResolutionFailed) \
  X(FileNotAvailable) \
  X(FileNotFound) \
  X(FinalizerCannotChangeLayout) \
  X(FixupAddressOverflow) \
  X(FixupPatchOutOfBounds) \
  X(FragmentTooLarge) \
  X(FrontendDiagnostics) \
  X(HighRegisterNotAllowed) \
  X(ImmediateAlignment) \
  X(ImmediateOutOfRange) \
  X(ImpossibleAddressSize) \
  X(IncludeCycle) \
  X(IncludeNotAvailable) \
  X(IncludeTooDeep) \
  X(InstructionTooLarge) \
  X(InstructionTooLong) \
  X(IntegerOverflow) \
  X(InvalidAddressSize) \
  X(InvalidAlignment) \
  X(InvalidApiArgument) \
  X(InvalidApiArity) \
  X(InvalidApiCall) \
  X(InvalidApiInteger) \
  X(InvalidArgument) \
  X(InvalidBackendFixupWidth) \
  X(InvalidBuildConfig) \
  X(InvalidBytecodePayload) \
  X(InvalidCharacter) \
  X(InvalidDefineValue) \
  X(InvalidEffectiveAddress) \
  X(InvalidEvexOperand) \
  X(InvalidEvexTupleType) \
  X(InvalidEvexVectorLength) \
  X(InvalidExpression) \
  X(InvalidFieldName) \
  X(InvalidFixupSize) \
  X(InvalidFixupTarget) \
  X(InvalidFixupWidth) \
  X(InvalidFragment) \
  X(InvalidImmediateValue) \
  X(InvalidInstructionText) \
  X(InvalidInteger) \
  X(InvalidIntegerBits) \
  X(InvalidIntegerLiteral) \
  X(InvalidLabel) \
  X(InvalidLateLayout) \
  X(InvalidMacro) \
  X(InvalidMacroOperands) \
  X(InvalidMemoryScale) \
  X(InvalidMetaBlock) \
  X(InvalidMetaDefer) \
  X(InvalidMetaFor) \
  X(InvalidMetaFunction) \
  X(InvalidMetaIf) \
  X(InvalidMetaStatement) \
  X(InvalidMetaWhile) \
  X(InvalidModeBits) \
  X(InvalidNumber) \
  X(InvalidOperand) \
  X(InvalidOperandSize) \
  X(InvalidPrefixEncoding) \
  X(InvalidRegisterOperand) \
  X(InvalidReserveOpcode) \
  X(InvalidReserveSize) \
  X(InvalidRspIndexRegister) \
  X(InvalidSection) \
  X(InvalidSource) \
  X(InvalidSpirvVersion) \
  X(InvalidString) \
  X(InvalidStructDeclaration) \
  X(InvalidStructField) \
  X(InvalidTargetConfig) \
  X(InvalidToken) \
  X(InvalidType) \
  X(InvalidUtf8) \
  X(InvalidValueDeclaration) \
  X(InvalidXLen) \
  X(LateLayoutDidNotConverge) \
  X(LegacyDirectiveSyntax) \
  X(MacroArityMismatch) \
  X(MacroCaptureDepthExceeded) \
  X(MacroExpansionLimitExceeded) \
  X(MetaCallDepthExceeded) \
  X(MetaFunctionReturned) \
  X(MetaLoopBreak) \
  X(MetaLoopContinue) \
  X(MetaLoopLimitExceeded) \
  X(MissingBytecode) \
  X(MissingEvaluationContext) \
  X(MissingMetaReturn) \
  X(MissingOperand) \
  X(MissingPayload) \
  X(MissingRegisterMetadata) \
  X(MissingStructFieldValue) \
  X(MissingTemplate) \
  X(MnemonicTooLong) \
  X(NameTooLong) \
  X(NeedsCpuFeatureContext) \
  X(NeedsPrefixEmitter) \
  X(NegativeInstructionSize) \
  X(NestingTooDeep) \
  X(NoMatchingTemplate) \
  X(NonConstantReserve) \
  X(OffsetOverflow) \
  X(OutOfMemory) \
  X(OutputOverflow) \
  X(OutputRegionClosed) \
  X(OutputTooLarge) \
  X(Overflow) \
  X(PathAlreadyExists) \
  X(ReadFailed) \
  X(RegisterOutOfRange) \
  X(RelativeFixupOutOfRange) \
  X(RelativeFixupOverflow) \
  X(ReserveOverflow) \
  X(SibCannotBeRipRelative) \
  X(SideEffectInValueFunction) \
  X(SignedFixupOutOfRange) \
  X(SizeOverflow) \
  X(SourceTooLarge) \
  X(SymbolicSubByteImmediate) \
  X(Syntax) \
  X(SyntaxError) \
  X(TooManyFixups) \
  X(TooManyFragments) \
  X(TooManyOperands) \
  X(TooManySections) \
  X(TooManySources) \
  X(TooManyStatements) \
  X(TooManySymbols) \
  X(TooManyTypes) \
  X(TypeMismatch) \
  X(UnclosedVirtualOutput) \
  X(UndefinedSymbol) \
  X(UnexpectedEndOfInput) \
  X(UnexpectedEndOfLateLayout) \
  X(UnexpectedEndOfMetaBlock) \
  X(UnexpectedEndOfMetaDefer) \
  X(UnexpectedEndOfMetaFor) \
  X(UnexpectedEndOfMetaFunction) \
  X(UnexpectedEndOfMetaIf) \
  X(UnexpectedEndOfMetaWhile) \
  X(UnexpectedEndOfStatement) \
  X(UnexpectedEndOfStruct) \
  X(UnexpectedEof) \
  X(UnionFieldDefaultNotAllowed) \
  X(UnknownField) \
  X(UnknownMetaCondition) \
  X(UnknownOpcode) \
  X(UnknownOperand) \
  X(UnknownTypeName) \
  X(UnmatchedVirtualEnd) \
  X(UnresolvedFixup) \
  X(UnsignedFixupOutOfRange) \
  X(UnsupportedBackendFixupKind) \
  X(UnsupportedBytecode) \
  X(UnsupportedInstruction) \
  X(UnsupportedInstructionTarget) \
  X(UnsupportedInstructionWidth) \
  X(UnsupportedMnemonic) \
  X(UnsupportedOperandSyntax) \
  X(UnsupportedOperands) \
  X(UnsupportedPrefixes) \
  X(UnsupportedRiscvInstruction) \
  X(UnsupportedSegmentFixup) \
  X(UnsupportedX86Instruction) \
  X(UnsupportedXLen) \
  X(WrapFixupOutOfRange) \
  X(WriteFailed) \
  X(OperandCountMismatch) \
  X(OperandKindMismatch) \

enum class Error : std::uint16_t {
#define QOVRIN_ERROR_ENUMERATOR(name) name,
  QOVRIN_ERROR_NAMES(QOVRIN_ERROR_ENUMERATOR)
#undef QOVRIN_ERROR_ENUMERATOR
};

#define QOVRIN_ERROR_COUNT_ONE(name) +1
inline constexpr std::size_t kErrorCount = 0 QOVRIN_ERROR_NAMES(QOVRIN_ERROR_COUNT_ONE);
#undef QOVRIN_ERROR_COUNT_ONE

// The error's name exactly as written in the enumeration ("OutOfMemory").
std::string_view errorName(Error error) noexcept;

template <typename T>
using Result = std::expected<T, Error>;

// Result of an operation that yields nothing but can fail.
using Status = std::expected<void, Error>;

inline std::unexpected<Error> fail(Error error) noexcept { return std::unexpected<Error>(error); }

}  // namespace qovrin

// Propagates the failure of an expression that yields a Status or Result.
#define QOVRIN_TRY(expression)                                            \
  do {                                                                    \
    if (auto qovrin_try_result = (expression); !qovrin_try_result)        \
      return std::unexpected<::qovrin::Error>(qovrin_try_result.error()); \
  } while (false)
