// FMU states: records with the layout of fmiInstance that own copies of an
// instance's values, work arrays, model data record and delay rings, and
// their byte images.
//
// A state record is made by fmiCreateStateRecord and released by
// fmiReleaseStateRecord; all of its memory comes from and returns to the
// callbacks of the instance it was made with (its own `functions` and
// `instanceName` stay null, so every message about it goes through that
// instance).  A record is usable only while `stateValid` is 1: a failed save
// or load clears it, and fmi2SetFMUstate refuses such a record.
//
// Whenever a model data record is copied into another, the copy keeps what
// belongs to the destination: its delay-ring blocks, its DUSER and IUSER, its
// String slots, its Jacobian and external-object pointers and its resources
// folder; everything else of the model state comes from the source.  What
// holds nothing is not moved: the reserved block and the work area are zero
// in every record, and so is the block of a delay ring that holds no points
// (a whole ring block is copied only for a ring in use).
#pragma once

#include <atomic>
#include <cstdint>

#include "fmi/fmi2.h"
#include "fmi/fmiInstance.h"

struct ModelInstanceData;
struct DelayBuffer;
struct bim_element;
struct bim_binary;

// The one format of an FMU-state image; every '#' count is the length of an
// array of the record and is compared when an image is loaded.
inline constexpr const char kFmiStateFormat[] =
    "ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(ffffff)S(iiiiiiiiiiiii)Bf#";

// The serialized size, 0 until first computed; then every answer of
// fmi2SerializedFMUstateSize in the process.
extern std::atomic<uint32_t> fmiSerializedSizeCache;

// Creates a zero-filled state record sized for the instance, with its own
// arrays, model data record (from the template) and delay rings.  On failure
// "memory allocation failed" is logged, everything is released, *out is
// null and the result is fmi2Error; the instance is not touched, so that a
// host may try again once memory is available.
fmi2Status fmiCreateStateRecord(fmiInstance **out, fmiInstance *instance);

// Releases a state record made for instance, with its solver copy; null does
// nothing.
void fmiReleaseStateRecord(fmiInstance *instance, fmiInstance *record);

// Copies the saved part of source into destination (values, Strings, DUSER,
// IUSER, the flags, the model data record and the delay contents).
// 0 done, 1 out of memory, 2 the records do not match (other counts).
[[nodiscard]] int fmiCopyInstanceRecord(fmiInstance *source, fmiInstance *destination,
                                        const fmi2CallbackFunctions *callbacks);

// Copies candidate over destination, keeping the destination's own pointers
// and resources (see above) and clearing busy.  destinationDuser and
// destinationIuser are the work arrays the copy is bound to.
void fmiAdoptInstanceData(ModelInstanceData *destination, const ModelInstanceData &candidate,
                          double *destinationDuser, int32_t *destinationIuser);

// True when the delay ring may hold points.  Rings are read and written
// only after spatialInitRing has initialised them (scale 1), so a ring whose
// scale and slot indexes are all 0 holds nothing but the zeros of its new
// block; its contents need not be copied.
[[nodiscard]] bool fmiRingInUse(const DelayBuffer &ring);

// Gives ring's block (2*size doubles) the contents that belong to the fields
// ring now holds: a copy of contents when the ring is in use, else zeros,
// which the block already holds unless it was in use before (wasInUse).
void fmiSetRingContents(DelayBuffer &ring, bool wasInUse, const double *contents);

// True when candidate's delay rings fit the rings allocated in own: the same
// size and every slot index inside it.
[[nodiscard]] bool fmiRingsFit(const ModelInstanceData &candidate, const ModelInstanceData &own);

// True for the state codes an instance can be in.
[[nodiscard]] constexpr bool fmiKnownState(int32_t state) {
  return state >= fmiStateInstantiated && state <= fmiStateTerminated && state != fmiStateReserved;
}

// The doubles of the record's delay rings in an image (2*size per ring),
// 0 when the record has no ring storage.
[[nodiscard]] uint32_t fmiDelayImageLength(fmiInstance *record);

// Maps record onto the state format, with runtimeImage describing the model
// data record; null after "createBimMap: bim_map returned NULL" (logged
// through instance).  record->delayImage must hold fmiDelayImageLength
// doubles.
bim_element *createBimMap(fmiInstance *record, bim_binary *runtimeImage, fmiInstance *instance);

// The refusal of every FMU-state function while internal result generation
// is on: true after "%s failed, FMU uses internal result generation; ..." at
// fmi2Warning.
[[nodiscard]] bool fmiRefuseWithResultGeneration(fmiInstance *instance, const char *name);
