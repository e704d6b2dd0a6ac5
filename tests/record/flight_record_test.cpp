#include "record/flight_record.h"

#include <gtest/gtest.h>

#include "protocol/little_endian.h"

namespace kestrun {
namespace {

TEST(FlightRecordTest, EncodesEightyLittleEndianBytesAtTheirOffsets) {
    FlightRecord record = BlankFlightRecord();
    record.Second = 58;
    record.Latitude = 0x0102030405060708;
    record.AltitudeFraction = 0x80000000u;
    record.AltitudeMetres = -12;
    record.Heading = 0xFFFFFFFEu;
    record.IAS = 0x7F00;
    const FlightRecordBytes bytes = EncodeFlightRecord(record);
    EXPECT_TRUE(HasRecordHeader(bytes.data()));
    EXPECT_EQ(LoadU16(&bytes[12]), 58);
    EXPECT_EQ(bytes[14], std::byte{0x08});  // least significant byte first
    EXPECT_EQ(LoadU32(&bytes[30]), 0x80000000u);
    EXPECT_EQ(LoadI32(&bytes[34]), -12);
    EXPECT_EQ(LoadU32(&bytes[46]), 0xFFFFFFFEu);
    EXPECT_EQ(LoadI32(&bytes[54]), 0x7F00);
    for (std::size_t at : {50u, 51u, 52u, 53u, 58u, 79u}) EXPECT_EQ(bytes[at], std::byte{0}) << at;
}

}  // namespace
}  // namespace kestrun
