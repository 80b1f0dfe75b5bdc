// Tavbin.cs - the C# binding of binary-read-util
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// C# 7 with nothing beyond what .NET Framework 4.6 has, so the same file builds with
// Mono's mcs, for .NET Framework 4.6 and later, and for .NET 6 and later; no unsafe
// code. Native is the module's 58 functions declared once, exactly as tavbin.h
// declares them. Reader, Writer and Library wrap them: a value comes back as the
// return value, any status but TAVBIN_OK becomes a TavbinException, and the cursor
// and recorded status after a failure are exactly what the C call left (tavbin.h
// says what that is for each call).
//
// DllImport("binary-read-util") finds binary-read-util.dll on Windows (next to the
// program first, then the usual DLL search order, PATH included) and
// libbinary-read-util.so elsewhere (Mono and .NET add the lib prefix and .so
// suffix; LD_LIBRARY_PATH, or a dllmap entry under Mono, points at it).

using System;
using System.Runtime.InteropServices;
using Microsoft.Win32.SafeHandles;
using static Tavbin.Checks;

namespace Tavbin
{
    /// <summary>The status of a call; the values are the C codes and never change.</summary>
    public enum Status
    {
        /// <summary>Success.</summary>
        Ok = 0,
        /// <summary>Fewer bytes remain than the read needs.</summary>
        Eof = 1,
        /// <summary>Seek past the end, absolute read or store out of bounds.</summary>
        Range = 2,
        /// <summary>Bad byte order, bad bit count, bad LEB128.</summary>
        InvalidArg = 3,
        /// <summary>A length over the caller's limit.</summary>
        TooLarge = 4,
        /// <summary>The writer's buffer cannot grow.</summary>
        Oom = 5,
    }

    /// <summary>A byte order; the values are the C codes.</summary>
    public enum Endian : uint
    {
        /// <summary>Most significant byte at the lowest address.</summary>
        Big = 0,
        /// <summary>Least significant byte at the lowest address.</summary>
        Little = 1,
    }

    /// <summary>A call gave a status other than <see cref="Status.Ok"/>; the message is the
    /// status's text ("eof", "range", ...).</summary>
    public class TavbinException : Exception
    {
        public TavbinException(Status status) : base(Library.StrError((int)status))
        {
            Status = status;
        }

        public Status Status { get; }
    }

    // What Reader, Writer and Library share: a failed status becomes an exception, a
    // closed handle an ObjectDisposedException rather than a call.
    static class Checks
    {
        internal static void Check(int status)
        {
            if (status != 0)
                throw new TavbinException((Status)status);
        }

        internal static T Live<T>(T handle, string owner) where T : SafeHandle
        {
            if (handle.IsClosed)
                throw new ObjectDisposedException(owner);
            return handle;
        }
    }

    /// <summary>A native reader. Releasing it closes the reader and then unpins the bytes
    /// it reads, in that order: both belong to this one object, so no finaliser
    /// ordering can free the bytes under a live reader.</summary>
    public sealed class ReaderHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        GCHandle pinned;

        // Created by the marshaller when tavbin_open returns.
        ReaderHandle() : base(true) { }

        internal void Own(GCHandle pin)
        {
            pinned = pin;
        }

        protected override bool ReleaseHandle()
        {
            Native.tavbin_close(handle);
            if (pinned.IsAllocated)
                pinned.Free();
            return true;
        }
    }

    /// <summary>A native writer; releasing it closes the writer and frees its buffer.</summary>
    public sealed class WriterHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        WriterHandle() : base(true) { }

        protected override bool ReleaseHandle()
        {
            Native.tavbinw_close(handle);
            return true;
        }
    }

    /// <summary>The module's functions as tavbin.h declares them: uint64_t is ulong,
    /// statuses are int, byte orders uint, data pointers IntPtr, outputs out. The
    /// handles are SafeHandles, so a call on a disposed one throws
    /// ObjectDisposedException; the close functions take the raw pointer and are for
    /// the handles' own release (dispose a handle rather than close it).
    /// tavbin_strerror's text is static: read it with Marshal.PtrToStringAnsi and never
    /// free it.</summary>
    public static class Native
    {
        // Status text and stateless loads and stores

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern IntPtr tavbin_strerror(int status);

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_load_u16(IntPtr src, ulong avail, uint endian, out ushort value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_load_u32(IntPtr src, ulong avail, uint endian, out uint value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_load_u64(IntPtr src, ulong avail, uint endian, out ulong value);

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_store_u16(IntPtr dst, ulong cap, uint endian, ushort value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_store_u32(IntPtr dst, ulong cap, uint endian, uint value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_store_u64(IntPtr dst, ulong cap, uint endian, ulong value);

        // Reader: life, cursor, single bytes and bit fields

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern ReaderHandle tavbin_open(IntPtr data, ulong size, uint endian);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void tavbin_close(IntPtr r);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_set_endian(ReaderHandle r, uint endian);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_seek(ReaderHandle r, ulong offset);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern ulong tavbin_tell(ReaderHandle r);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern ulong tavbin_remaining(ReaderHandle r);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern ulong tavbin_size(ReaderHandle r);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_last_error(ReaderHandle r);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void tavbin_bit_align(ReaderHandle r);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u8(ReaderHandle r, out byte value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_i8(ReaderHandle r, out sbyte value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_bits(ReaderHandle r, uint count, out ulong value);

        // Reader: fixed-width values and blocks

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u16(ReaderHandle r, out ushort value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_i16(ReaderHandle r, out short value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u32(ReaderHandle r, out uint value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_i32(ReaderHandle r, out int value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_f32(ReaderHandle r, out float value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u64(ReaderHandle r, out ulong value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_i64(ReaderHandle r, out long value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_f64(ReaderHandle r, out double value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_bytes(ReaderHandle r, IntPtr dst, ulong n);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_ascii(ReaderHandle r, IntPtr dst, ulong n);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_skip(ReaderHandle r, ulong n);

        // Reader: peeks and absolute reads

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_peek_u8(ReaderHandle r, out byte value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_peek_u16(ReaderHandle r, out ushort value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_peek_u32(ReaderHandle r, out uint value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_peek_u64(ReaderHandle r, out ulong value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u8_at(ReaderHandle r, ulong offset, out byte value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u16_at(ReaderHandle r, ulong offset, out ushort value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u32_at(ReaderHandle r, ulong offset, out uint value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_u64_at(ReaderHandle r, ulong offset, out ulong value);

        // Reader: variable-length values

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_string_u32(ReaderHandle r, IntPtr dst, ulong dstCap, ulong maxLen,
                                                   out ulong outLen);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbin_leb128(ReaderHandle r, out ulong value, ulong maxBytes);

        // Writer: life, queries and raw appends

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern WriterHandle tavbinw_open(ulong initialCap, uint endian);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern void tavbinw_close(IntPtr w);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_set_endian(WriterHandle w, uint endian);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern IntPtr tavbinw_data(WriterHandle w);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern ulong tavbinw_len(WriterHandle w);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_last_error(WriterHandle w);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_bytes(WriterHandle w, IntPtr src, ulong n);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_u8(WriterHandle w, byte value);

        // Writer: typed appends

        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_u16(WriterHandle w, ushort value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_i16(WriterHandle w, short value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_u32(WriterHandle w, uint value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_i32(WriterHandle w, int value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_f32(WriterHandle w, float value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_u64(WriterHandle w, ulong value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_i64(WriterHandle w, long value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_f64(WriterHandle w, double value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_leb128(WriterHandle w, ulong value);
        [DllImport("binary-read-util", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        public static extern int tavbinw_string_u32(WriterHandle w, IntPtr src, ulong n);
    }

    /// <summary>A cursor over a byte array. The array is pinned, and so kept alive and
    /// in place, until the reader is disposed or finalised; do not change it meanwhile.
    /// Each read returns its value or throws TavbinException, the cursor then left
    /// exactly as the C call left it.</summary>
    public sealed class Reader : IDisposable
    {
        readonly ReaderHandle h;

        public Reader(byte[] data, Endian order = Endian.Big)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            GCHandle pin = GCHandle.Alloc(data, GCHandleType.Pinned);
            try
            {
                h = Native.tavbin_open(pin.AddrOfPinnedObject(), (ulong)data.LongLength, (uint)order);
            }
            catch
            {
                pin.Free();
                throw;
            }
            if (h.IsInvalid)
            {
                h.Dispose();
                pin.Free();
                throw Library.OpenFailed(order);
            }
            h.Own(pin);
        }

        /// <summary>Closes the reader and unpins its array; later calls throw
        /// ObjectDisposedException. Calling it again does nothing.</summary>
        public void Dispose()
        {
            h.Dispose();
        }

        ReaderHandle H => Live(h, nameof(Reader));

        /// <summary>Length of the array.</summary>
        public ulong Size => Native.tavbin_size(H);

        /// <summary>Status recorded by the last call that records one.</summary>
        public Status LastError => (Status)Native.tavbin_last_error(H);

        /// <summary>Byte offset of the cursor; a partly read byte counts as not read.</summary>
        public ulong Tell() => Native.tavbin_tell(H);

        /// <summary>Bytes from the cursor to the end, the bit position ignored.</summary>
        public ulong Remaining() => Native.tavbin_remaining(H);

        /// <summary>Moves to an absolute offset (0 to Size) and ends any partly read byte.</summary>
        public void Seek(ulong offset) => Check(Native.tavbin_seek(H, offset));

        /// <summary>Skips the rest of a partly read byte, if any.</summary>
        public void BitAlign() => Native.tavbin_bit_align(H);

        public void SetEndian(Endian order) => Check(Native.tavbin_set_endian(H, (uint)order));

        public byte U8() { Check(Native.tavbin_u8(H, out byte v)); return v; }
        public sbyte I8() { Check(Native.tavbin_i8(H, out sbyte v)); return v; }
        public ushort U16() { Check(Native.tavbin_u16(H, out ushort v)); return v; }
        public short I16() { Check(Native.tavbin_i16(H, out short v)); return v; }
        public uint U32() { Check(Native.tavbin_u32(H, out uint v)); return v; }
        public int I32() { Check(Native.tavbin_i32(H, out int v)); return v; }
        public float F32() { Check(Native.tavbin_f32(H, out float v)); return v; }
        public ulong U64() { Check(Native.tavbin_u64(H, out ulong v)); return v; }
        public long I64() { Check(Native.tavbin_i64(H, out long v)); return v; }
        public double F64() { Check(Native.tavbin_f64(H, out double v)); return v; }

        /// <summary>A bit field of 1 to 64 bits, most significant bit first.</summary>
        public ulong Bits(uint count) { Check(Native.tavbin_bits(H, count, out ulong v)); return v; }

        /// <summary>An unsigned LEB128 number of at most maxBytes bytes (above 10 acts as 10).</summary>
        public ulong Leb128(ulong maxBytes = 10) { Check(Native.tavbin_leb128(H, out ulong v, maxBytes)); return v; }

        public void Skip(ulong n) => Check(Native.tavbin_skip(H, n));

        /// <summary>The next n bytes.</summary>
        public byte[] Bytes(ulong n) => Block(n, false);

        /// <summary>The next n characters of a fixed-length field, as bytes, unchanged.</summary>
        public byte[] Ascii(ulong n) => Block(n, true);

        byte[] Block(ulong n, bool ascii)
        {
            ReaderHandle r = H;
            // More than remains cannot succeed, and the C call then fails on its length
            // test without touching dst: a token buffer lets it say so, where n bytes
            // could be more than any array holds.
            byte[] dst = new byte[n <= Native.tavbin_remaining(r) ? n : 1];
            GCHandle pin = GCHandle.Alloc(dst, GCHandleType.Pinned);
            try
            {
                IntPtr p = pin.AddrOfPinnedObject();
                Check(ascii ? Native.tavbin_ascii(r, p, n) : Native.tavbin_bytes(r, p, n));
            }
            finally
            {
                pin.Free();
            }
            return dst;
        }

        /// <summary>A string stored as a 32-bit byte count and that many bytes, in an array
        /// of exactly that size (no terminator). TavbinException: TooLarge if the count
        /// exceeds maxLen, Eof if the data ends first; the cursor is then as it was.</summary>
        public byte[] StringU32(ulong maxLen = uint.MaxValue)
        {
            ReaderHandle r = H;
            // dst is sized from the count as the C read will see it (after the byte
            // alignment, in the reader's order); the peek moves nothing, and what it
            // records is replaced by what the read records.
            ulong cap = 1, room = 1;
            if (Native.tavbin_peek_u32(r, out uint len) == 0 && len <= maxLen)
            {
                // When fewer bytes follow the count than it says, the read must fail
                // with Eof, and it does so only if told of room for the whole string.
                // It can never write more than the data holds (at least the count's 4
                // bytes remain), so no more than that is allocated: a hostile count
                // costs nothing the data does not.
                cap = (ulong)len + 1;
                room = Math.Min(cap, Native.tavbin_remaining(r) - 3);
            }
            // Otherwise the read fails on the count (missing, or over maxLen) before it
            // uses dst.
            byte[] dst = new byte[room];
            ulong got;
            GCHandle pin = GCHandle.Alloc(dst, GCHandleType.Pinned);
            try
            {
                Check(Native.tavbin_string_u32(r, pin.AddrOfPinnedObject(), cap, maxLen, out got));
            }
            finally
            {
                pin.Free();
            }
            byte[] s = new byte[got];
            Buffer.BlockCopy(dst, 0, s, 0, (int)got);
            return s;
        }

        public byte PeekU8() { Check(Native.tavbin_peek_u8(H, out byte v)); return v; }
        public ushort PeekU16() { Check(Native.tavbin_peek_u16(H, out ushort v)); return v; }
        public uint PeekU32() { Check(Native.tavbin_peek_u32(H, out uint v)); return v; }
        public ulong PeekU64() { Check(Native.tavbin_peek_u64(H, out ulong v)); return v; }

        /// <summary>The value at an absolute offset; the cursor is not touched.</summary>
        public byte U8At(ulong offset) { Check(Native.tavbin_u8_at(H, offset, out byte v)); return v; }
        public ushort U16At(ulong offset) { Check(Native.tavbin_u16_at(H, offset, out ushort v)); return v; }
        public uint U32At(ulong offset) { Check(Native.tavbin_u32_at(H, offset, out uint v)); return v; }
        public ulong U64At(ulong offset) { Check(Native.tavbin_u64_at(H, offset, out ulong v)); return v; }
    }

    /// <summary>A growing buffer of encoded values, owned by the module until disposed.
    /// Each append throws TavbinException on failure and then leaves the bytes as they were.</summary>
    public sealed class Writer : IDisposable
    {
        readonly WriterHandle h;

        /// <summary>initialCap: bytes to allocate at first, 0 meaning 64.</summary>
        public Writer(ulong initialCap = 0, Endian order = Endian.Big)
        {
            h = Native.tavbinw_open(initialCap, (uint)order);
            if (h.IsInvalid)
            {
                h.Dispose();
                throw Library.OpenFailed(order);
            }
        }

        /// <summary>Frees the buffer; later calls throw ObjectDisposedException. Calling it
        /// again does nothing.</summary>
        public void Dispose()
        {
            h.Dispose();
        }

        WriterHandle H => Live(h, nameof(Writer));

        /// <summary>Number of bytes written so far.</summary>
        public ulong Length => Native.tavbinw_len(H);

        /// <summary>Status recorded by the last call that records one.</summary>
        public Status LastError => (Status)Native.tavbinw_last_error(H);

        public void SetEndian(Endian order) => Check(Native.tavbinw_set_endian(H, (uint)order));

        public void U8(byte value) => Check(Native.tavbinw_u8(H, value));
        public void U16(ushort value) => Check(Native.tavbinw_u16(H, value));
        public void I16(short value) => Check(Native.tavbinw_i16(H, value));
        public void U32(uint value) => Check(Native.tavbinw_u32(H, value));
        public void I32(int value) => Check(Native.tavbinw_i32(H, value));
        public void F32(float value) => Check(Native.tavbinw_f32(H, value));
        public void U64(ulong value) => Check(Native.tavbinw_u64(H, value));
        public void I64(long value) => Check(Native.tavbinw_i64(H, value));
        public void F64(double value) => Check(Native.tavbinw_f64(H, value));

        /// <summary>An unsigned LEB128 number in its shortest form.</summary>
        public void Leb128(ulong value) => Check(Native.tavbinw_leb128(H, value));

        public void Bytes(byte[] data) => Append(data, false);

        /// <summary>A 32-bit byte count, then the bytes.</summary>
        public void StringU32(byte[] data) => Append(data, true);

        void Append(byte[] data, bool counted)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            WriterHandle w = H;
            GCHandle pin = GCHandle.Alloc(data, GCHandleType.Pinned);
            try
            {
                IntPtr p = pin.AddrOfPinnedObject();
                ulong n = (ulong)data.LongLength;
                Check(counted ? Native.tavbinw_string_u32(w, p, n) : Native.tavbinw_bytes(w, p, n));
            }
            finally
            {
                pin.Free();
            }
        }

        /// <summary>A copy of the bytes written so far.</summary>
        public byte[] ToArray()
        {
            WriterHandle w = H;
            // The buffer is the module's: hold the handle open while copying out of it,
            // even against a Dispose on another thread.
            bool held = false;
            try
            {
                w.DangerousAddRef(ref held);
                ulong n = Native.tavbinw_len(w);
                if (n > int.MaxValue)
                    throw new InvalidOperationException("the writer holds more bytes than an array can");
                byte[] a = new byte[n];
                if (n != 0)
                    Marshal.Copy(Native.tavbinw_data(w), a, 0, (int)n);
                return a;
            }
            finally
            {
                if (held)
                    w.DangerousRelease();
            }
        }
    }

    /// <summary>The status texts, and loads and stores of unsigned values in an array.</summary>
    public static class Library
    {
        /// <summary>"ok", "eof", "range", "invalid_arg", "too_large", "oom", or "unknown".</summary>
        public static string StrError(int status)
        {
            // The text is static in the module: copied here, never freed.
            return Marshal.PtrToStringAnsi(Native.tavbin_strerror(status));
        }

        // An open gives no status: a byte order the module refuses or, failing that,
        // memory.
        internal static TavbinException OpenFailed(Endian order)
        {
            bool known = order == Endian.Big || order == Endian.Little;
            return new TavbinException(known ? Status.Oom : Status.InvalidArg);
        }

        // Pins an array and points at offset in it, with the bytes from there to its end.
        // An offset at or past the end points at the end with no bytes, so the C call
        // reports it (Eof for a load, Range for a store) and reads or writes nothing.
        static GCHandle Pin(byte[] data, int offset, out IntPtr at, out ulong avail)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            if (offset < 0)
                throw new ArgumentOutOfRangeException(nameof(offset), offset, "a negative offset");
            int from = Math.Min(offset, data.Length);
            avail = (ulong)(data.Length - from);
            GCHandle pin = GCHandle.Alloc(data, GCHandleType.Pinned);
            at = pin.AddrOfPinnedObject() + from;
            return pin;
        }

        /// <summary>The 2-byte value at data[offset] (LoadU32, LoadU64: 4, 8 bytes).
        /// TavbinException: Eof if fewer bytes are there, an offset past the end included;
        /// InvalidArg for a byte order that is not one. ArgumentOutOfRangeException for a
        /// negative offset.</summary>
        public static ushort LoadU16(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(Native.tavbin_load_u16(at, avail, (uint)order, out ushort v)); return v; }
            finally { pin.Free(); }
        }

        public static uint LoadU32(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(Native.tavbin_load_u32(at, avail, (uint)order, out uint v)); return v; }
            finally { pin.Free(); }
        }

        public static ulong LoadU64(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(Native.tavbin_load_u64(at, avail, (uint)order, out ulong v)); return v; }
            finally { pin.Free(); }
        }

        /// <summary>Stores the 2 bytes of value at buffer[offset] (StoreU32, StoreU64: 4, 8).
        /// TavbinException: Range if fewer bytes are there, an offset past the end
        /// included (nothing is written); InvalidArg for a byte order that is not one.
        /// ArgumentOutOfRangeException for a negative offset.</summary>
        public static void StoreU16(byte[] buffer, int offset, ushort value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(Native.tavbin_store_u16(at, cap, (uint)order, value)); }
            finally { pin.Free(); }
        }

        public static void StoreU32(byte[] buffer, int offset, uint value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(Native.tavbin_store_u32(at, cap, (uint)order, value)); }
            finally { pin.Free(); }
        }

        public static void StoreU64(byte[] buffer, int offset, ulong value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(Native.tavbin_store_u64(at, cap, (uint)order, value)); }
            finally { pin.Free(); }
        }
    }
}
