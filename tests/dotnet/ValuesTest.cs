// ValuesTest.cs - what the binding adds over the C calls: statuses as exceptions,
// every width marshalled both ways in both byte orders, arrays sized from the data.

using System;
using System.Linq;
using System.Text;

namespace Tavbin.Tests
{
    static class ValuesTest
    {
        static readonly Endian[] Orders = { Endian.Big, Endian.Little };

        // The width bytes of value in a byte order, and back: the reference for the module.
        static byte[] Encode(ulong value, int width, Endian order)
        {
            var b = new byte[width];
            for (int i = 0; i < width; i++)
                b[order == Endian.Big ? width - 1 - i : i] = (byte)(value >> (8 * i));
            return b;
        }

        static ulong Decode(byte[] data, int at, int width, Endian order)
        {
            ulong v = 0;
            for (int i = 0; i < width; i++)
                v = (v << 8) | data[order == Endian.Big ? at + i : at + width - 1 - i];
            return v;
        }

        [Test]
        static void EveryStatusBecomesItsException()
        {
            byte[] three = { 1, 2, 3 };
            using (var r = new Reader(three))
            {
                Assert.Fails(Status.Eof, () => r.U32(), "U32 on 3 bytes");
                Assert.Equal(Status.Eof, r.LastError, "recorded");
                Assert.Fails(Status.Range, () => r.Seek(4), "Seek past the end");
                Assert.Fails(Status.Range, () => r.U16At(2), "U16At(2) of 3 bytes");
                Assert.Fails(Status.InvalidArg, () => r.Bits(0), "Bits(0)");
                Assert.Fails(Status.InvalidArg, () => r.Bits(65), "Bits(65)");
                Assert.Fails(Status.InvalidArg, () => r.Leb128(0), "Leb128(0)");
                Assert.Fails(Status.InvalidArg, () => r.SetEndian((Endian)2), "SetEndian(2)");
                Assert.Equal(Status.InvalidArg, r.LastError, "recorded");
                Assert.Equal(0x0102u, r.PeekU16(), "still usable");
                Assert.Equal(Status.Ok, r.LastError, "recorded");
            }
            using (var r = new Reader(new byte[] { 0, 0, 0, 9, 1 }))
                Assert.Fails(Status.TooLarge, () => r.StringU32(8), "count 9 over maxLen 8");
            using (var w = new Writer())
                Assert.Fails(Status.InvalidArg, () => w.SetEndian((Endian)5), "Writer.SetEndian(5)");
            Assert.Fails(Status.InvalidArg, () => new Reader(three, (Endian)2), "Reader order 2");
            Assert.Fails(Status.InvalidArg, () => new Writer(0, (Endian)2), "Writer order 2");
            Assert.Fails(Status.Oom, () => new Writer(ulong.MaxValue), "Writer of 2^64 - 1 bytes");
            Assert.Fails(Status.Eof, () => Library.LoadU64(three, 0, Endian.Big), "LoadU64 of 3 bytes");
            Assert.Fails(Status.Range, () => Library.StoreU32(three, 0, 1, Endian.Big), "StoreU32 into 3 bytes");
            Assert.Fails(Status.InvalidArg, () => Library.LoadU16(three, 0, (Endian)7), "LoadU16 order 7");
            // An append no buffer can hold, through the declarations themselves.
            using (WriterHandle h = Native.tavbinw_open(0, 0))
            {
                var one = System.Runtime.InteropServices.GCHandle.Alloc(three, System.Runtime.InteropServices.GCHandleType.Pinned);
                Assert.Equal((int)Status.Oom, Native.tavbinw_bytes(h, one.AddrOfPinnedObject(), ulong.MaxValue), "tavbinw_bytes");
                one.Free();
                Assert.Equal((int)Status.Oom, Native.tavbinw_last_error(h), "recorded");
            }
        }

        [Test]
        static void EveryKindRoundTripsInBothOrders()
        {
            float nanF = BitConverter.ToSingle(BitConverter.GetBytes(0x7FA12345), 0);
            double nanD = BitConverter.Int64BitsToDouble(0x7FF4000000000123);
            ulong[] lebs = { 0, 127, 128, 624485, ulong.MaxValue };
            byte[] text = Encoding.UTF8.GetBytes("h\u00e9\0llo");
            foreach (Endian order in Orders)
            {
                using (var w = new Writer(1, order))
                {
                    w.U8(0xFF); w.U16(0xFEDC); w.I16(short.MinValue); w.U32(0xCAFEF00D); w.I32(-2);
                    w.F32(nanF); w.F32(-0f); w.U64(0x0123456789ABCDEF); w.I64(long.MinValue);
                    w.F64(nanD); w.F64(double.Epsilon);
                    foreach (ulong v in lebs) w.Leb128(v);
                    w.Bytes(new byte[0]); w.Bytes(new byte[] { 1, 2, 3 });
                    w.StringU32(new byte[0]); w.StringU32(text);
                    byte[] bytes = w.ToArray();
                    Assert.Equal((ulong)bytes.Length, w.Length, "Length");
                    using (var r = new Reader(bytes, order))
                    {
                        string o = " " + order;
                        Assert.Equal((byte)0xFF, r.U8(), "U8" + o);
                        Assert.Equal((ushort)0xFEDC, r.U16(), "U16" + o);
                        Assert.Equal(short.MinValue, r.I16(), "I16" + o);
                        Assert.Equal(0xCAFEF00Du, r.U32(), "U32" + o);
                        Assert.Equal(-2, r.I32(), "I32" + o);
                        Assert.Bytes(BitConverter.GetBytes(nanF), BitConverter.GetBytes(r.F32()), "F32 NaN payload" + o);
                        Assert.Bytes(BitConverter.GetBytes(-0f), BitConverter.GetBytes(r.F32()), "F32 -0" + o);
                        Assert.Equal(0x0123456789ABCDEFUL, r.U64(), "U64" + o);
                        Assert.Equal(long.MinValue, r.I64(), "I64" + o);
                        Assert.Equal(BitConverter.DoubleToInt64Bits(nanD), BitConverter.DoubleToInt64Bits(r.F64()), "F64 NaN" + o);
                        Assert.Equal(double.Epsilon, r.F64(), "F64 subnormal" + o);
                        foreach (ulong v in lebs) Assert.Equal(v, r.Leb128(), "Leb128" + o);
                        Assert.Bytes(new byte[0], r.Bytes(0), "Bytes(0)" + o);
                        Assert.Bytes(new byte[] { 1, 2, 3 }, r.Bytes(3), "Bytes(3)" + o);
                        Assert.Bytes(new byte[0], r.StringU32(), "empty string" + o);
                        Assert.Bytes(text, r.StringU32(), "string" + o);
                        Assert.Equal(0UL, r.Remaining(), "all read" + o);
                    }
                }
            }
            using (var r = new Reader(new byte[] { 0x80, 0xFF }))
                Assert.Equal((sbyte)-128, r.I8(), "I8");
        }

        [Test]
        static void FixedWidthsAgainstAReference()
        {
            byte[] data = Enumerable.Range(0, 19).Select(i => (byte)(i * 37 + 0x91)).ToArray();
            foreach (Endian order in Orders)
            {
                using (var r = new Reader(data, order))
                {
                    foreach (int width in new[] { 1, 2, 4, 8 })
                    {
                        for (int at = 0; at <= data.Length; at++)
                        {
                            string what = $"width {width} at {at} {order}";
                            ulong offset = (ulong)at;
                            if (at + width > data.Length)
                            {
                                Assert.Fails(Status.Range, () => AtRead(r, width, offset), "_at " + what);
                                continue;
                            }
                            ulong expected = Decode(data, at, width, order);
                            Assert.Equal(expected, AtRead(r, width, offset), "_at " + what);
                            r.Seek(offset);
                            Assert.Equal(expected, Peek(r, width), "peek " + what);
                            Assert.Equal(offset, r.Tell(), "peek moves nothing, " + what);
                            if (width > 1)
                                Assert.Equal(expected, Load(data, at, width, order), "Load " + what);
                        }
                    }
                }
                foreach (int width in new[] { 2, 4, 8 })
                {
                    ulong value = 0x8877665544332211UL >> (64 - 8 * width);
                    var buffer = new byte[10];
                    Store(buffer, 1, width, value, order);
                    var expected = new byte[10];
                    Array.Copy(Encode(value, width, order), 0, expected, 1, width);
                    Assert.Bytes(expected, buffer, $"Store width {width} {order}");
                    using (var w = new Writer(0, order))
                    {
                        if (width == 2) w.U16((ushort)value); else if (width == 4) w.U32((uint)value); else w.U64(value);
                        Assert.Bytes(Encode(value, width, order), w.ToArray(), $"Writer width {width} {order}");
                    }
                }
            }
        }

        static ulong AtRead(Reader r, int width, ulong at) =>
            width == 1 ? r.U8At(at) : width == 2 ? r.U16At(at) : width == 4 ? (ulong)r.U32At(at) : r.U64At(at);

        static ulong Peek(Reader r, int width) =>
            width == 1 ? r.PeekU8() : width == 2 ? r.PeekU16() : width == 4 ? (ulong)r.PeekU32() : r.PeekU64();

        static ulong Load(byte[] data, int at, int width, Endian order) =>
            width == 2 ? Library.LoadU16(data, at, order)
            : width == 4 ? (ulong)Library.LoadU32(data, at, order) : Library.LoadU64(data, at, order);

        static void Store(byte[] buffer, int at, int width, ulong value, Endian order)
        {
            if (width == 2) Library.StoreU16(buffer, at, (ushort)value, order);
            else if (width == 4) Library.StoreU32(buffer, at, (uint)value, order);
            else Library.StoreU64(buffer, at, value, order);
        }

        [Test]
        static void LoadsAndStoresStayInsideTheArray()
        {
            var buffer = new byte[] { 1, 2, 3, 4, 5 };
            foreach (int at in new[] { 4, 5, 6, int.MaxValue })
            {
                Assert.Fails(Status.Eof, () => Library.LoadU16(buffer, at, Endian.Big), "LoadU16 at " + at);
                Assert.Fails(Status.Range, () => Library.StoreU16(buffer, at, 0xFFFF, Endian.Big), "StoreU16 at " + at);
            }
            Assert.Fails(Status.Range, () => Library.StoreU64(buffer, 0, ulong.MaxValue, Endian.Little), "StoreU64");
            Assert.Throws<ArgumentOutOfRangeException>(() => Library.LoadU32(buffer, -1, Endian.Big), "offset -1");
            Assert.Throws<ArgumentOutOfRangeException>(() => Library.StoreU32(buffer, int.MinValue, 0, Endian.Big), "offset min");
            Assert.Throws<ArgumentNullException>(() => Library.LoadU64(null, 0, Endian.Big), "null data");
            Assert.Bytes(new byte[] { 1, 2, 3, 4, 5 }, buffer, "nothing written");
            Assert.Fails(Status.Eof, () => Library.LoadU16(new byte[0], 0, Endian.Big), "LoadU16 of nothing");
        }

        [Test]
        static void BitsAgainstABitByBitReference()
        {
            var random = new Random(16);
            var data = new byte[40];
            random.NextBytes(data);
            using (var r = new Reader(data))
            {
                int bit = 0;
                while (true)
                {
                    uint count = (uint)random.Next(1, 65);
                    if (bit + count > data.Length * 8)
                    {
                        Assert.Fails(Status.Eof, () => r.Bits(count), "Bits past the end");
                        Assert.Equal((ulong)data.Length, r.Tell(), "every bit consumed");
                        break;
                    }
                    ulong expected = 0;
                    for (int i = 0; i < count; i++, bit++)
                        expected = (expected << 1) | (uint)((data[bit / 8] >> (7 - bit % 8)) & 1);
                    Assert.Equal(expected, r.Bits(count), $"Bits({count}) at bit {bit - count}");
                }
                // A byte read after a partial byte starts at the next byte.
                r.Seek(0);
                r.Bits(3);
                Assert.Equal(data[1], r.U8(), "U8 after Bits(3)");
            }
        }

        [Test]
        static void Leb128Table()
        {
            var cases = new[]
            {
                new { Bytes = new byte[] { 0xE5, 0x8E, 0x26 }, Max = 10UL, Value = 624485UL, Fails = Status.Ok },
                new { Bytes = new byte[] { 0x80, 0x80, 0x00 }, Max = 10UL, Value = 0UL, Fails = Status.Ok },
                new { Bytes = Enumerable.Repeat((byte)0xFF, 9).Concat(new byte[] { 0x7F }).ToArray(), Max = 10UL,
                      Value = ulong.MaxValue, Fails = Status.Ok },
                new { Bytes = new byte[] { 0x80, 0x80, 0x01 }, Max = 3UL, Value = 16384UL, Fails = Status.Ok },
                new { Bytes = new byte[] { 0x80, 0x80, 0x01 }, Max = 2UL, Value = 0UL, Fails = Status.Eof },
                new { Bytes = new byte[] { 0x80 }, Max = 10UL, Value = 0UL, Fails = Status.Eof },
                new { Bytes = Enumerable.Repeat((byte)0xFF, 10).Concat(new byte[] { 1 }).ToArray(), Max = 16UL,
                      Value = 0UL, Fails = Status.InvalidArg },
            };
            foreach (var c in cases)
            {
                // After one bit the number starts at byte 1; a failure goes back there.
                var data = new byte[] { 0xA5 }.Concat(c.Bytes).ToArray();
                string what = $"{Assert.Hex(c.Bytes)} max {c.Max}";
                using (var r = new Reader(data))
                {
                    r.Bits(1);
                    if (c.Fails == Status.Ok)
                        Assert.Equal(c.Value, r.Leb128(c.Max), what);
                    else
                        Assert.Fails(c.Fails, () => r.Leb128(c.Max), what);
                    Assert.Equal(c.Fails == Status.Ok ? (ulong)data.Length : 1UL, r.Tell(), what + ": cursor");
                }
            }
        }

        [Test]
        static void StringsSizedFromTheirCount()
        {
            var cases = new[]
            {
                new { Bytes = new byte[] { 0, 0, 0, 3, 0x61, 0, 0x63 }, Max = 3UL, Fails = Status.Ok },
                new { Bytes = new byte[] { 0, 0, 0, 0 }, Max = 0UL, Fails = Status.Ok },
                new { Bytes = new byte[] { 0, 0, 0, 3, 0x61, 0x62, 0x63 }, Max = 2UL, Fails = Status.TooLarge },
                new { Bytes = new byte[] { 0, 0, 0, 5, 0x61, 0x62, 0x63 }, Max = 5UL, Fails = Status.Eof },
                new { Bytes = new byte[] { 0, 0, 3 }, Max = 5UL, Fails = Status.Eof },
                // Hostile counts: Eof from what the data holds, with no array of the count's size.
                new { Bytes = new byte[] { 0xFF, 0xFF, 0xFF, 0xFF, 1, 2 }, Max = (ulong)uint.MaxValue, Fails = Status.Eof },
                new { Bytes = new byte[] { 0xFF, 0xFF, 0xFF, 0xFF, 1, 2 }, Max = ulong.MaxValue, Fails = Status.Eof },
                new { Bytes = new byte[] { 0xFF, 0xFF, 0xFF, 0xFE, 1, 2 }, Max = 0xFFFFFFFDUL, Fails = Status.TooLarge },
            };
            foreach (var c in cases)
            {
                string what = $"{Assert.Hex(c.Bytes)} max {c.Max}";
                // Two bits into a leading byte: a failure puts even the bit position back.
                var data = new byte[] { 0x40 }.Concat(c.Bytes).ToArray();
                using (var r = new Reader(data))
                {
                    Assert.Equal(1UL, r.Bits(2), what);
                    if (c.Fails == Status.Ok)
                    {
                        Assert.Bytes(c.Bytes.Skip(4).ToArray(), r.StringU32(c.Max), what);
                        Assert.Equal(0UL, r.Remaining(), what + ": all read");
                        continue;
                    }
                    Assert.Fails(c.Fails, () => r.StringU32(c.Max), what);
                    Assert.Equal(0UL, r.Tell(), what + ": cursor");
                    Assert.Equal(0UL, r.Bits(6), what + ": bit position kept");
                }
            }
        }

        [Test]
        static void BlocksBeyondTheEnd()
        {
            byte[] data = { 0xF0, 1, 2, 3 };
            foreach (ulong n in new[] { 4UL, 5UL, (ulong)int.MaxValue + 1, ulong.MaxValue })
            {
                using (var r = new Reader(data))
                {
                    r.Bits(3);
                    // Eof from the C call, the partly read byte abandoned, and no array of n bytes.
                    Assert.Fails(Status.Eof, () => r.Bytes(n), "Bytes(" + n + ")");
                    Assert.Equal(1UL, r.Tell(), "Bytes: cursor after the alignment");
                    Assert.Fails(Status.Eof, () => r.Ascii(n), "Ascii(" + n + ")");
                    Assert.Fails(Status.Eof, () => r.Skip(n), "Skip(" + n + ")");
                    Assert.Bytes(new byte[] { 1, 2, 3 }, r.Ascii(3), "Ascii(3) then");
                    Assert.Bytes(new byte[0], r.Bytes(0), "Bytes(0) at the end");
                }
            }
        }

        [Test]
        static void BadArguments()
        {
            Assert.Throws<ArgumentNullException>(() => new Reader(null), "Reader(null)");
            using (var w = new Writer())
            {
                Assert.Throws<ArgumentNullException>(() => w.Bytes(null), "Writer.Bytes(null)");
                Assert.Throws<ArgumentNullException>(() => w.StringU32(null), "Writer.StringU32(null)");
                Assert.Equal(0UL, w.Length, "nothing appended");
            }
            using (var r = new Reader(new byte[0]))
            {
                Assert.Equal(0UL, r.Size, "empty Size");
                Assert.Fails(Status.Eof, () => r.U8(), "U8 of nothing");
                Assert.Fails(Status.Eof, () => r.StringU32(), "StringU32 of nothing");
            }
        }
    }
}
