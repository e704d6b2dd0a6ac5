#include "record/flight_record.h"

#include "protocol/little_endian.h"

namespace kestrun {

FlightRecordBytes EncodeFlightRecord(const FlightRecord& record) {
    namespace at = record_offset;
    FlightRecordBytes bytes{};  // reserved fields stay zero
    std::byte* p = bytes.data();
    StoreI16(p + at::kHeader1, record.Header1);
    StoreI16(p + at::kHeader2, record.Header2);
    StoreI16(p + at::kHeader3, record.Header3);
    StoreI16(p + at::kHeader4, record.Header4);
    StoreI16(p + at::kHour, record.Hour);
    StoreI16(p + at::kMinute, record.Minute);
    StoreI16(p + at::kSecond, record.Second);
    StoreI64(p + at::kLatitude, record.Latitude);
    StoreI64(p + at::kLongitude, record.Longitude);
    StoreU32(p + at::kAltitudeFraction, record.AltitudeFraction);
    StoreI32(p + at::kAltitudeMetres, record.AltitudeMetres);
    StoreI32(p + at::kPitch, record.Pitch);
    StoreI32(p + at::kBank, record.Bank);
    StoreU32(p + at::kHeading, record.Heading);
    StoreI32(p + at::kIAS, record.IAS);
    return bytes;
}

FlightRecord BlankFlightRecord() {
    FlightRecord record;
    record.Header1 = kHeader1;
    record.Header2 = kHeader2;
    record.Header3 = kHeader3;
    record.Header4 = kHeader4;
    return record;
}

}  // namespace kestrun
