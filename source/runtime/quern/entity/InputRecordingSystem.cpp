#include "quern/entity/InputRecordingSystem.h"

#include "quern/debug/Log.h"
#include "quern/entity/World.h"
#include "quern/io/StringSource.h"
#include "quern/io/UserStorage.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/serialize/BinaryPODToken.h"
#include "quern/strings/Format.h"

#include <cstring>

namespace quern::entity {

namespace {

// Room for this many more copies whenever the byte store is full, so a copy
// per frame does not reallocate every frame.
constexpr u64 kCopiesPerGrowth = 1024;

bool tracksEntity(EntityHandle handle)
{
    return handle.index() != EntityHandle::kNoIndex && handle.generation() != 0;
}

input::InputArrays inputArraysOf(const input::InputArrays* arrays)
{
    return arrays ? *arrays : input::InputArrays {};
}

} // namespace

void ComponentFrameStore::reset(memory::Allocator* allocator)
{
    release();
    offsets = containers::Array(sizeof(u64), alignof(u64), allocator);
    lengths = containers::Array(sizeof(u64), alignof(u64), allocator);
    bytes = containers::Array(1, 1, allocator);
}

void ComponentFrameStore::release()
{
    offsets.release();
    lengths.release();
    bytes.release();
    end = 0;
}

void ComponentFrameStore::store(World& world, EntityHandle entity)
{
    u64 length = world.copyEntityComponents(entity, bytes.dataAs<u8>() + end, bytes.capacity() - end);
    if (length > bytes.capacity() - end) {
        bytes.reserve(bytes.capacity() + length * kCopiesPerGrowth);
        length = world.copyEntityComponents(entity, bytes.dataAs<u8>() + end, bytes.capacity() - end);
    }
    bytes.expand(end + length);
    u64 offset = end;
    const u64 previous = lengths.count();
    if (previous > 0 && lengths.at<u64>(previous - 1) == length
        && (length == 0 || std::memcmp(frameBytes(previous - 1), bytes.dataAs<u8>() + end, length) == 0)) {
        // Same as the frame before: share its bytes; the next copy goes here.
        offset = offsets.at<u64>(previous - 1);
    } else {
        end += length;
    }
    bytes.expand(end);
    offsets.append(offset);
    lengths.append(length);
}

InputRecordingSystem::InputRecordingSystem() : allocator(memory::getDefaultAllocator()) {}

InputRecordingSystem::~InputRecordingSystem()
{
    release(snapshot, memory::getDefaultAllocator());
    replay.release();
    recorder.reset(nullptr);
    componentFrames.release();
}

void InputRecordingSystem::describe(SystemInfo* info)
{
    info->name = "InputRecordingSystem";
    info->kind = 0;
}

void InputRecordingSystem::worldStarted(World&, memory::Allocator* worldAllocator)
{
    allocator = worldAllocator ? worldAllocator : memory::getDefaultAllocator();
    replay.reset(allocator);
    recorder.reset(allocator);
    player.reset();
    componentFrames.reset(allocator);
    release(snapshot, memory::getDefaultAllocator());
}

void InputRecordingSystem::worldStopped(World&, memory::Allocator*)
{
    release(snapshot, memory::getDefaultAllocator());
    replay.release();
    // Everything below lives on the level allocator, which outlives no level.
    recorder.reset(nullptr);
    componentFrames.release();
}

u32 InputRecordingSystem::frameChecksum(const World& world) const
{
    return tracksEntity(trackedEntity) ? world.entityChecksum(trackedEntity) : world.worldChecksum();
}

void InputRecordingSystem::recordFrame(World& world)
{
    if (mode != Record)
        return;
    if (recorder.frameCounter == 0) {
        release(snapshot, memory::getDefaultAllocator());
        world.takeSnapshot(snapshot, memory::getDefaultAllocator());
        componentFrames.reset(allocator);
        if (recordingCallback)
            recordingCallback(replay, recordingName, recordingUser);
    }
    if (checksums) {
        if (componentCapture)
            componentFrames.store(world, trackedEntity);
        const u32 checksum = frameChecksum(world);
        if (recorder.cursor == replay.frameCount())
            replay.appendFrame(static_cast<i32>(recorder.frameCounter));
        replay.frameAt(recorder.cursor).checksum = static_cast<u8>(checksum);
    }
    if (recorder.recordFrame(replay, inputArraysOf(inputs)) && recordingCallback)
        recordingCallback(replay, recordingName, recordingUser);
}

void InputRecordingSystem::checkFrame(World& world)
{
    // An empty replay has no record to check against.
    if (replay.frameCount() == 0)
        return;
    const u64 index = player.cursor < replay.frameCount() ? player.cursor : replay.frameCount() - 1;
    const input::InputReplayFrame& record = replay.frameAt(index);
    if (record.frame != player.frameCounter)
        return;
    const u32 checksum = frameChecksum(world);
    if (record.checksum == static_cast<u8>(checksum))
        return;
    QUERN_LOG(2) << "Input replay checksum differs at frame " << player.frameCounter << std::endl;
    // Copies exist only when this instance recorded the run itself.
    const u64 frame = static_cast<u64>(player.frameCounter);
    if (!componentCapture || frame >= componentFrames.frameCount())
        return;
    const ComponentDifference difference
        = world.compareEntityComponents(trackedEntity, componentFrames.frameBytes(frame), componentFrames.frameLength(frame));
    if (difference.found() && mismatchCallback)
        mismatchCallback(difference, mismatchUser);
}

void InputRecordingSystem::replayFrame(World& world)
{
    if (mode != Play)
        return;
    if (player.frameCounter == 0 && snapshot.holdsStore())
        world.restoreSnapshot(snapshot);
    if (checksums)
        checkFrame(world);
    player.playFrame(replay, inputArraysOf(inputs));
}

void loadInputRecording(input::InputReplay& replay, const char* fileName, io::UserStorage& fileSystem)
{
    const io::UserStorageResult size = fileSystem.fileSize(fileName, nullptr);
    if (size.code != io::UserStorageError::NoError)
        QUERN_FATAL(strings::format<512>("Can't read input replay %s: %s", fileName, size.message));
    memory::Allocator* allocator = memory::getDefaultAllocator();
    void* buffer = allocator->allocate(size.value > 0 ? size.value : 1, 8);
    if (!buffer)
        QUERN_OUT_OF_MEMORY();
    const io::UserStorageResult read = fileSystem.read(fileName, buffer, size.value, nullptr);
    if (read.code != io::UserStorageError::NoError || read.value != size.value)
        QUERN_FATAL(strings::format<512>("Can't read input replay %s: %s", fileName, read.message));
    StringSource source(buffer, size.value);
    serialize::BinaryPODToken token;
    replay.read(source, token);
    allocator->free(buffer);
}

} // namespace quern::entity
