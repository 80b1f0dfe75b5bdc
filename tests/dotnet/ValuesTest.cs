// ValuesTest.cs - what the binding adds over the C calls: statuses as exceptions,
// every width marshalled both ways in both byte orders, arrays sized from the data.

using System;
using System.Collections.Generic;
using System.Linq;
using System.Text;
using static Tavbin.Tests.Assert;

namespace Tavbin.Tests
{
    static class ValuesTest
    {
        static readonly Endian[] Orders = { Endian.Big, Endian.Little };

        [Test]
        static void EveryStatusBecomesItsException()
        {
            byte[] three = { 1, 2, 3 };
            using (var r = new Reader(three))
            {
                Fails(Status.Eof, () => r.U32(), "U32 on 3 bytes");
                Equal(Status.Eof, r.LastError, "recorded");
                Fails(Status.Range, () => r.Seek(4), "Seek past the end");
                Fails(Status.Range, () => r.U16At(2), "U16At(2) of 3 bytes");
                Fails(Status.InvalidArg, () => r.Bits(65), "Bits(65)");
                Fails(Status.InvalidArg, () => r.Leb128(0), "Leb128(0)");
                Fails(Status.InvalidArg, () => r.SetEndian((Endian)2), "SetEndian(2)");
                Equal((ushort)0x0102, r.PeekU16(), "still usable");
                Equal(Status.Ok, r.LastError, "recorded");
            }
            using (var r = new Reader(Of("00 00 00 09 01")))
                Fails(Status.TooLarge, () => r.StringU32(8), "count 9 over maxLen 8");
            using (var w = new Writer())
            {
                Fails(Status.InvalidArg, () => w.SetEndian((Endian)5), "Writer.SetEndian(5)");
                Throws<ArgumentNullException>(() => w.Bytes(null), "Writer.Bytes(null)");
                Throws<ArgumentNullException>(() => w.StringU32(null), "Writer.StringU32(null)");
            }
            Fails(Status.InvalidArg, () => new Reader(three, (Endian)2), "Reader order 2");
            Fails(Status.InvalidArg, () => new Writer(0, (Endian)2), "Writer order 2");
            foreach (Endian order in Orders)
                Fails(Status.Oom, () => new Writer(ulong.MaxValue, order), "Writer of 2^64 - 1 bytes " + order);
            Fails(Status.InvalidArg, () => Library.LoadU16(three, 0, (Endian)7), "LoadU16 order 7");
            Throws<ArgumentNullException>(() => new Reader(null), "Reader(null)");
            using (var r = new Reader(new byte[0]))
                Fails(Status.Eof, () => r.StringU32(), "StringU32 of nothing");
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
                string o = " " + order;
                using (var w = new Writer(1, order))
                {
                    w.U8(0xFF); w.U16(0xFEDC); w.I16(short.MinValue); w.U32(0xCAFEF00D); w.I32(-2);
                    w.F32(nanF); w.F32(-0f); w.U64(0x0123456789ABCDEF); w.I64(long.MinValue);
                    w.F64(nanD); w.F64(double.Epsilon);
                    foreach (ulong v in lebs) w.Leb128(v);
                    w.Bytes(new byte[0]); w.Bytes(Of("01 02 03")); w.StringU32(new byte[0]); w.StringU32(text);
                    w.U24(0xABCDEF); w.I24(-5); w.Array(new ushort[] { 1, 0xFEDC });
                    byte[] bytes = w.ToArray();
                    Equal((ulong)bytes.Length, w.Length, "Length" + o);
                    // Read back over the array and, on .NET, over memory: the same reader.
                    var readers = new List<Func<Reader>> { () => new Reader(bytes, order) };
#if NET
                    readers.Add(() => new Reader(new ReadOnlyMemory<byte>(bytes), order));
#endif
                    foreach (Func<Reader> open in readers)
                    using (Reader r = open())
                    {
                        Equal((byte)0xFF, r.U8(), "U8" + o);
                        Equal((ushort)0xFEDC, r.U16(), "U16" + o);
                        Equal(short.MinValue, r.I16(), "I16" + o);
                        Equal(0xCAFEF00Du, r.U32(), "U32" + o);
                        Equal(-2, r.I32(), "I32" + o);
                        Bytes(BitConverter.GetBytes(nanF), BitConverter.GetBytes(r.F32()), "F32 NaN payload" + o);
                        Bytes(BitConverter.GetBytes(-0f), BitConverter.GetBytes(r.F32()), "F32 -0" + o);
                        Equal(0x0123456789ABCDEFUL, r.U64(), "U64" + o);
                        Equal(long.MinValue, r.I64(), "I64" + o);
                        Equal(BitConverter.DoubleToInt64Bits(nanD), BitConverter.DoubleToInt64Bits(r.F64()), "F64 NaN" + o);
                        Equal(double.Epsilon, r.F64(), "F64 subnormal" + o);
                        foreach (ulong v in lebs) Equal(v, r.Leb128(), "Leb128" + o);
                        Bytes(new byte[0], r.Bytes(0), "Bytes(0)" + o);
                        Bytes(Of("01 02 03"), r.Bytes(3), "Bytes(3)" + o);
                        Bytes(new byte[0], r.StringU32(), "empty string" + o);
                        Bytes(text, r.StringU32(), "string" + o);
                        Equal(0xABCDEFu, r.U24(), "U24" + o);
                        Equal(-5, r.I24(), "I24" + o);
                        var pair = new ushort[2];
                        r.Array(pair);
                        Equal("1 65244", pair[0] + " " + pair[1], "Array" + o);
                        Equal(0UL, r.Remaining(), "all read" + o);
                    }
                }
            }
            using (var r = new Reader(Of("80")))
                Equal((sbyte)-128, r.I8(), "I8");
        }

        // Every width at every offset, in both orders, against a decoding done here:
        // absolute reads, peeks, loads, stores and the writer.
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
                        for (int at = 0; at <= data.Length + 1; at++)
                        {
                            string what = $"width {width} at {at} {order}";
                            ulong offset = (ulong)at;
                            if (at + width > data.Length)
                            {
                                Fails(Status.Range, () => AtRead(r, width, offset), "_at " + what);
                                if (width > 1) Fails(Status.Eof, () => Load(data, at, width, order), "Load " + what);
                                continue;
                            }
                            ulong expected = 0;
                            for (int i = 0; i < width; i++)
                                expected = (expected << 8) | data[order == Endian.Big ? at + i : at + width - 1 - i];
                            Equal(expected, AtRead(r, width, offset), "_at " + what);
                            r.Seek(offset);
                            Equal(expected, Peek(r, width), "peek " + what);
                            Equal(offset, r.Tell(), "peek moves nothing, " + what);
                            if (width == 1) continue;
                            Equal(expected, Load(data, at, width, order), "Load " + what);
                            var copy = new byte[data.Length];
                            Store(copy, at, width, expected, order);
                            Bytes(data.Skip(at).Take(width).ToArray(), copy.Skip(at).Take(width).ToArray(), "Store " + what);
                            True(copy.Take(at).Concat(copy.Skip(at + width)).All(b => b == 0), "Store only there, " + what);
                            using (var w = new Writer(0, order))
                            {
                                if (width == 2) w.U16((ushort)expected); else if (width == 4) w.U32((uint)expected); else w.U64(expected);
                                Bytes(data.Skip(at).Take(width).ToArray(), w.ToArray(), "Writer " + what);
                            }
                        }
                    }
                }
            }
            var five = Of("01 02 03 04 05");
            foreach (int at in new[] { 4, 6, int.MaxValue })
                Fails(Status.Range, () => Library.StoreU16(five, at, 0xFFFF, Endian.Big), "StoreU16 at " + at);
            Throws<ArgumentOutOfRangeException>(() => Library.LoadU32(five, -1, Endian.Big), "offset -1");
            Throws<ArgumentOutOfRangeException>(() => Library.StoreU32(five, int.MinValue, 0, Endian.Big), "offset min");
            Bytes(Of("01 02 03 04 05"), five, "nothing written");
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
        static void BitsAgainstABitByBitReference()
        {
            var random = new Random(16);
            var data = new byte[40];
            random.NextBytes(data);
            using (var r = new Reader(data))
            {
                for (int bit = 0; ;)
                {
                    uint count = (uint)random.Next(1, 65);
                    if (bit + count > data.Length * 8)
                    {
                        Fails(Status.Eof, () => r.Bits(count), "Bits past the end");
                        Equal((ulong)data.Length, r.Tell(), "every bit consumed");
                        break;
                    }
                    ulong expected = 0;
                    for (int i = 0; i < count; i++, bit++)
                        expected = (expected << 1) | (uint)((data[bit / 8] >> (7 - bit % 8)) & 1);
                    Equal(expected, r.Bits(count), $"Bits({count}) at bit {bit - count}");
                }
            }
        }

        [Test]
        static void Leb128Table()
        {
            // bytes, maxBytes, value or failure; after one bit the number starts at byte 1,
            // and a failure goes back there.
            var cases = new[]
            {
                Tuple.Create("E5 8E 26", 10UL, 624485UL, Status.Ok),
                Tuple.Create("80 80 00", 10UL, 0UL, Status.Ok),
                Tuple.Create("FF FF FF FF FF FF FF FF FF 7F", 10UL, ulong.MaxValue, Status.Ok),
                Tuple.Create("80 80 01", 3UL, 16384UL, Status.Ok),
                Tuple.Create("80 80 01", 2UL, 0UL, Status.Eof),
                Tuple.Create("80", 10UL, 0UL, Status.Eof),
                Tuple.Create("FF FF FF FF FF FF FF FF FF FF 01", 16UL, 0UL, Status.InvalidArg),
            };
            foreach (var c in cases)
            {
                byte[] data = Of("A5 " + c.Item1);
                string what = $"{c.Item1} max {c.Item2}";
                using (var r = new Reader(data))
                {
                    r.Bits(1);
                    if (c.Item4 == Status.Ok)
                        Equal(c.Item3, r.Leb128(c.Item2), what);
                    else
                        Fails(c.Item4, () => r.Leb128(c.Item2), what);
                    Equal(c.Item4 == Status.Ok ? (ulong)data.Length : 1UL, r.Tell(), what + ": cursor");
                }
            }
        }

        [Test]
        static void StringsSizedFromTheirCount()
        {
            // bytes, maxLen, Ok or the failure; the last three are hostile counts that no
            // array of the count's size may be made for.
            var cases = new[]
            {
                Tuple.Create("00 00 00 03 61 00 63", 3UL, Status.Ok),
                Tuple.Create("00 00 00 00", 0UL, Status.Ok),
                Tuple.Create("00 00 00 03 61 62 63", 2UL, Status.TooLarge),
                Tuple.Create("00 00 00 05 61 62 63", 5UL, Status.Eof),
                Tuple.Create("00 00 03", 5UL, Status.Eof),
                Tuple.Create("FF FF FF FF 01 02", (ulong)uint.MaxValue, Status.Eof),
                Tuple.Create("FF FF FF FF 01 02", ulong.MaxValue, Status.Eof),
                Tuple.Create("FF FF FF FE 01 02", 0xFFFFFFFDUL, Status.TooLarge),
            };
            foreach (var c in cases)
            {
                string what = $"{c.Item1} max {c.Item2}";
                using (var r = new Reader(Of("40 " + c.Item1)))
                {
                    // Two bits into a leading byte: a failure puts even the bit position back.
                    r.Bits(2);
                    if (c.Item3 == Status.Ok)
                    {
                        Bytes(Of(c.Item1).Skip(4).ToArray(), r.StringU32(c.Item2), what);
                        Equal(0UL, r.Remaining(), what + ": all read");
                        continue;
                    }
                    Fails(c.Item3, () => r.StringU32(c.Item2), what);
                    Equal(0UL, r.Tell(), what + ": cursor");
                    Equal(0UL, r.Bits(6), what + ": bit position kept");
                }
            }
        }

        [Test]
        static void BlocksBeyondTheEnd()
        {
            foreach (ulong n in new[] { 4UL, 5UL, (ulong)int.MaxValue + 1, ulong.MaxValue })
            {
                using (var r = new Reader(Of("F0 01 02 03")))
                {
                    r.Bits(3);
                    // Eof from the C call, the partly read byte abandoned, and no array of n bytes.
                    Fails(Status.Eof, () => r.Bytes(n), "Bytes(" + n + ")");
                    Equal(1UL, r.Tell(), "Bytes: cursor after the alignment");
                    Fails(Status.Eof, () => r.Ascii(n), "Ascii(" + n + ")");
                    Fails(Status.Eof, () => r.Skip(n), "Skip(" + n + ")");
                    Bytes(Of("01 02 03"), r.Ascii(3), "Ascii(3) then");
                    Bytes(new byte[0], r.Bytes(0), "Bytes(0) at the end");
                }
            }
        }
    }
}
