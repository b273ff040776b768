// Record to File: the recording and the file followed as it grows. See record_to_file.h.
#include "ui/record_to_file.h"

namespace kestrine {

bool FollowedFile::Remap(std::string* reason)
{
    auto map = std::make_unique<MappedFile>();
    if (!map->Open(m_path, reason)) return false;
    if (m_map && map->Size() <= m_map->Size()) return true;  // nothing new: the old mapping serves
    if (m_map) {
        // The records lie at the same offsets of the file, now in the new mapping.
        const uint8_t* before = m_map->Data();
        for (PacketRecord& r : m_records) r.data = map->Data() + (r.data - before);
    }
    m_map = std::move(map);
    return true;
}

bool FollowedFile::Follow(size_t most, std::string* reason)
{
    // The file is mapped again only once what was mapped has been read, so a list that
    // lags behind the recording reads on without mapping anew.
    bool remapped = false;
    size_t taken = 0;
    while (taken < most) {
        const uint8_t* data = m_map ? m_map->Data() : nullptr;
        const size_t size = m_map ? m_map->Size() : 0;
        const CaptureParser::Result result = m_parser.Next(data + m_at, size - m_at, false);
        if (result.step == CaptureParser::Step::Failed) {
            *reason = m_parser.Reason();
            return false;
        }
        if (result.step != CaptureParser::Step::Unit) {  // the rest is not written yet
            if (remapped) break;
            if (!Remap(reason)) return false;
            remapped = true;
            continue;
        }
        m_at += result.size;
        PacketRecord record;
        if (result.hasFrame && m_taker.Take(result.frame, &record)) {
            m_records.push_back(record);
            m_parser.SetNextListed(static_cast<int64_t>(m_records.size()));
            ++taken;
        }
    }
    return true;
}

FileRecording::FileRecording(CaptureSession& session, std::string path)
    : m_path(std::move(path)), m_sink(m_path, 0), m_recorder(session, m_sink, RecordSettings{}), m_file(m_path)
{
}

bool FileRecording::Start(std::string* error) { return m_recorder.Start(error); }

}  // namespace kestrine
