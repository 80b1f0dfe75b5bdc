// Reader.cs - a cursor over bytes, read through the module
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// C# 7 with nothing beyond what .NET Framework 4.6.1 and netstandard2.0 have, so
// that Mono's mcs compiles it; the NET sections (net8.0 and later) add spans,
// memory and the fast path of the fixed-width reads. Each read returns its value
// or throws TavbinException (its status, the method, the offset where the call
// began), the cursor and recorded status then exactly what the C call left
// (tavbin.h says what that is for each call). The record layer (Sleb128, CString,
// Sub, U24/I24, strings with any length prefix, least significant bit first
// fields, arrays) follows the C++ wrapper, include/tavbin.hpp;
// tests/vectors/record.txt holds both to the same cases. Every call runs inside
// the reader's guard (Core/Guard.cs).

using System;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;
#if NET
using System.Buffers;
#endif
using Tavbin.Core;
using Tavbin.Core.Handles;

namespace Tavbin
{
    /// <summary>A cursor over bytes: an array, or on net8.0 and later any
    /// ReadOnlyMemory&lt;byte&gt;. The bytes are pinned, and so kept alive and in place,
    /// until the reader (and every reader cut from it by <see cref="Sub(ulong)"/>) is
    /// disposed or finalised; do not change them meanwhile. Each read returns its
    /// value or throws <see cref="TavbinException"/>, the cursor then left exactly as
    /// the C call left it. A reader is for one thread at a time: a call made while
    /// another thread's call runs on the same reader throws
    /// InvalidOperationException, and a Dispose on another thread waits for a running
    /// call to end; nothing is ever freed under a call.</summary>
    public sealed class Reader : IDisposable
    {
        const ulong Unmarked = ulong.MaxValue;

        readonly ReaderHandle h;
        readonly IntPtr raw;   // the C reader, valid until the guard is closed
        readonly IntPtr data;  // the first byte of the input, valid while h is
        readonly ulong size;
        readonly ulong origin; // data's offset in the outermost reader's input
        Guard guard;
        Endian order;          // for Sub, Array and the 16-bit prefix: the C reader does not tell it
        uint bitPos;           // bits Bits() has taken from the byte at the cursor
#if NET
        ReadOnlyMemory<byte> memory; // the input, for the ...Memory reads; let go by Dispose
#endif

        /// <summary>A reader over data, its cursor at 0. The array stays pinned while
        /// the reader lives. TavbinException: InvalidArg for a byte order that is not
        /// one, Oom if the reader cannot be allocated.</summary>
        public Reader(byte[] data, Endian order = Endian.Big)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            GCHandle pin = Checks.Pin(data);
            try
            {
                this.data = pin.AddrOfPinnedObject();
                h = NativeMethods.tavbin_open(this.data, (ulong)data.LongLength, (uint)order);
            }
            catch
            {
                Checks.Unpin(pin);
                throw;
            }
            if (h.IsInvalid)
            {
                h.Dispose();
                Checks.Unpin(pin);
                throw Library.OpenFailed(order, "new Reader");
            }
            h.Own(pin);
            this.order = order;
            size = (ulong)data.LongLength;
            raw = h.DangerousGetHandle();
            guard.Init(true);
#if NET
            memory = data;
#endif
        }

#if NET
        /// <summary>A reader over memory of any kind (array, native, pooled): it stays
        /// pinned while the reader lives. The ...Memory reads return slices of it.</summary>
        public unsafe Reader(ReadOnlyMemory<byte> data, Endian order = Endian.Big)
        {
            memory = data;
            MemoryHandle pin = data.Pin();
            try
            {
                this.data = (IntPtr)pin.Pointer;
                h = NativeMethods.tavbin_open(this.data, (ulong)data.Length, (uint)order);
            }
            catch
            {
                pin.Dispose();
                throw;
            }
            if (h.IsInvalid)
            {
                h.Dispose();
                pin.Dispose();
                throw Library.OpenFailed(order, "new Reader");
            }
            h.Own(pin);
            this.order = order;
            size = (ulong)data.Length;
            raw = h.DangerousGetHandle();
            guard.Init(true);
        }

        Reader(ReaderHandle h, IntPtr data, ulong size, Endian order, ulong origin, ReadOnlyMemory<byte> memory)
            : this(h, data, size, order, origin)
        {
            this.memory = memory;
        }
#endif

        Reader(ReaderHandle h, IntPtr data, ulong size, Endian order, ulong origin)
        {
            this.h = h;
            this.data = data;
            this.size = size;
            this.order = order;
            this.origin = origin;
            raw = h.DangerousGetHandle();
            guard.Init(true);
        }

        /// <summary>Closes the reader and lets go of its bytes (once no reader cut from
        /// it holds them); every later call throws ObjectDisposedException, even while
        /// such a sub-reader lives (it keeps working). A call running on another
        /// thread ends first. Calling it again does nothing.</summary>
        public void Dispose()
        {
            if (!guard.Close())
                return;
#if NET
            memory = default; // no call can run now
#endif
            h.Dispose();
        }

        internal bool Closed => guard.IsDisposed;

        // The guard taken for the call named what; the C reader to call.
        IntPtr Enter(string what)
        {
            guard.Enter(what);
            return raw;
        }

        void Leave() => guard.Leave(bitPos == 0);

        // Leaves after a call that moves nothing, throwing for a failed status.
        void Done(int status, string what, ulong offset)
        {
            Leave();
            if (status != 0)
                throw new TavbinException((Status)status, offset, what);
        }

        void Done(int status, string what)
        {
            if (status != 0)
            {
                ulong at = NativeMethods.tavbin_tell(raw);
                Leave();
                throw new TavbinException((Status)status, at, what);
            }
            Leave();
        }

        /// <summary>Length of the input.</summary>
        public ulong Size
        {
            get
            {
                guard.ThrowIfDisposed("Reader.Size");
                return size;
            }
        }

        /// <summary>Where this reader's first byte lies in the input of the reader it
        /// was cut from, and so on up: 0 for a reader made from an array or memory. Add
        /// it to a sub-reader's offsets (TavbinException.Offset included) to place them
        /// in the outermost input.</summary>
        public ulong Origin
        {
            get
            {
                guard.ThrowIfDisposed("Reader.Origin");
                return origin;
            }
        }

        /// <summary>Status recorded by the last call that records one.</summary>
        public Status LastError
        {
            get
            {
                Status s = (Status)NativeMethods.tavbin_last_error(Enter("Reader.LastError"));
                Leave();
                return s;
            }
        }

        /// <summary>Byte offset of the cursor; a partly read byte counts as not read.</summary>
        public ulong Tell()
        {
            ulong v = NativeMethods.tavbin_tell(Enter("Reader.Tell"));
            Leave();
            return v;
        }

        /// <summary>Bytes from the cursor to the end, the bit position ignored.</summary>
        public ulong Remaining()
        {
            ulong v = NativeMethods.tavbin_remaining(Enter("Reader.Remaining"));
            Leave();
            return v;
        }

        /// <summary>Moves to an absolute offset (0 to Size) and ends any partly read
        /// byte. TavbinException: Range past the end (the cursor does not move).</summary>
        public void Seek(ulong offset)
        {
            int s = NativeMethods.tavbin_seek(Enter("Reader.Seek"), offset);
            if (s == 0)
                bitPos = 0;
            Done(s, "Reader.Seek");
        }

        /// <summary>Moves to an absolute offset, as <see cref="Seek(ulong)"/> does.
        /// ArgumentOutOfRangeException for a negative offset.</summary>
        public void Seek(int offset) => Seek(Checks.Count(offset, nameof(offset)));

        /// <summary>Skips the rest of a partly read byte, if any.</summary>
        public void BitAlign()
        {
            NativeMethods.tavbin_bit_align(Enter("Reader.BitAlign"));
            bitPos = 0;
            Leave();
        }

        /// <summary>Changes the byte order of the reads that follow. TavbinException:
        /// InvalidArg for a byte order that is not one (nothing changes).</summary>
        public void SetEndian(Endian order)
        {
            int s = NativeMethods.tavbin_set_endian(Enter("Reader.SetEndian"), (uint)order);
            if (s == 0)
                this.order = order;
            Done(s, "Reader.SetEndian");
        }

        // Where a call begins, when a partly read byte makes it differ from where a
        // failed call leaves the cursor (every byte-level read first moves past such a
        // byte); Unmarked otherwise, the common case, at the cost of a field test.
        ulong Mark() => bitPos == 0 ? Unmarked : NativeMethods.tavbin_tell(raw);

        // After a call that failed or began inside a byte, still in the guard: the
        // partly read byte is forgotten once the call moved past it, and a failure
        // throws with the offset where the call began.
        void Settle(int status, ulong mark, string what)
        {
            if (mark != Unmarked && NativeMethods.tavbin_tell(raw) != mark)
                bitPos = 0;
            if (status != 0)
                throw new TavbinException((Status)status, mark != Unmarked ? mark : NativeMethods.tavbin_tell(raw), what);
        }

        // --- Fixed-width values -----------------------------------------------------

        // One body for the ten reads: read is the C function (Core/FastPath.cs). The
        // reads are inlined where they are called, so that a loop of them finds the
        // calling thread (a thread-static field) once, not once a read.
#if NET
        // The thread the guard names (Core/Guard.cs) marks the guard busy and reads
        // without an interlocked operation; any other call takes the guard.
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        unsafe T Fixed<T>(FixedRead<T> entry, string what) where T : unmanaged
        {
            var read = (delegate* unmanaged[Cdecl, SuppressGCTransition]<IntPtr, T*, int>)entry.Entry;
            Slot me = Slot.Current;
            if (guard.fast == me)
            {
                Volatile.Write(ref guard.busy, 1);
                if (Volatile.Read(ref guard.fast) == me)
                {
                    T v;
                    int s = read(raw, &v);
                    if (s != 0)
                        FixedFailed(s, what); // clears the mark
                    Volatile.Write(ref guard.busy, 0);
                    GC.KeepAlive(this);
                    return v;
                }
                Volatile.Write(ref guard.busy, 0);
            }
            return FixedGuarded(entry, what);
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        void FixedFailed(int status, string what)
        {
            ulong at = NativeMethods.tavbin_tell(raw);
            Volatile.Write(ref guard.busy, 0);
            throw new TavbinException((Status)status, at, what);
        }

        [MethodImpl(MethodImplOptions.NoInlining)]
        unsafe T FixedGuarded<T>(FixedRead<T> entry, string what) where T : unmanaged
        {
            var read = (delegate* unmanaged[Cdecl, SuppressGCTransition]<IntPtr, T*, int>)entry.Entry;
            T v;
            IntPtr r = Enter(what);
            try
            {
                ulong m = Mark();
                int s = read(r, &v);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, what);
            }
            finally
            {
                Leave();
            }
            return v;
        }
#else
        T Fixed<T>(FixedRead<T> read, string what)
        {
            T v;
            IntPtr r = Enter(what);
            try
            {
                ulong m = Mark();
                int s = read(r, out v);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, what);
            }
            finally
            {
                Leave();
            }
            return v;
        }
#endif

        /// <summary>An unsigned byte. TavbinException: Eof at the end (this and every
        /// fixed-width read; the cursor is then past a partly read byte, if any, and no
        /// further).</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public byte U8() => Fixed<byte>(FastPath.tavbin_u8, "Reader.U8");

        /// <summary>A signed byte.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public sbyte I8() => Fixed<sbyte>(FastPath.tavbin_i8, "Reader.I8");

        /// <summary>A 16-bit unsigned integer in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public ushort U16() => Fixed<ushort>(FastPath.tavbin_u16, "Reader.U16");

        /// <summary>A 16-bit two's complement integer in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public short I16() => Fixed<short>(FastPath.tavbin_i16, "Reader.I16");

        /// <summary>A 32-bit unsigned integer in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public uint U32() => Fixed<uint>(FastPath.tavbin_u32, "Reader.U32");

        /// <summary>A 32-bit two's complement integer in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public int I32() => Fixed<int>(FastPath.tavbin_i32, "Reader.I32");

        /// <summary>An IEEE 754 binary32 value in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public float F32() => Fixed<float>(FastPath.tavbin_f32, "Reader.F32");

        /// <summary>A 64-bit unsigned integer in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public ulong U64() => Fixed<ulong>(FastPath.tavbin_u64, "Reader.U64");

        /// <summary>A 64-bit two's complement integer in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public long I64() => Fixed<long>(FastPath.tavbin_i64, "Reader.I64");

        /// <summary>An IEEE 754 binary64 value in the reader's byte order.</summary>
        [MethodImpl(MethodImplOptions.AggressiveInlining)]
        public double F64() => Fixed<double>(FastPath.tavbin_f64, "Reader.F64");

        /// <summary>A 24-bit unsigned integer in the reader's byte order.</summary>
        public uint U24()
        {
            byte[] b = Block(3, false, "Reader.U24");
            return order == Endian.Big ? (uint)(b[0] << 16 | b[1] << 8 | b[2]) : (uint)(b[2] << 16 | b[1] << 8 | b[0]);
        }

        /// <summary>A 24-bit two's complement integer in the reader's byte order.</summary>
        public int I24()
        {
            byte[] b = Block(3, false, "Reader.I24");
            uint u = order == Endian.Big ? (uint)(b[0] << 16 | b[1] << 8 | b[2]) : (uint)(b[2] << 16 | b[1] << 8 | b[0]);
            return (int)(u << 8) >> 8;
        }

        /// <summary>A bit field of 1 to 64 bits, most significant bit first.
        /// TavbinException: InvalidArg for another count; Eof if fewer bits remain
        /// (every remaining bit is then consumed).</summary>
        public ulong Bits(uint count)
        {
            IntPtr r = Enter("Reader.Bits");
            ulong at = NativeMethods.tavbin_tell(r);
            int s = NativeMethods.tavbin_bits(r, count, out ulong v);
            if (s == 0)
                bitPos = (bitPos + count) & 7;
            else if (s == (int)Status.Eof)
                bitPos = 0; // running out consumes every remaining bit, the last byte included
#if NET
            if (bitPos != 0)
                guard.fast = Slot.None; // the fixed-width reads must see the partly read byte
#endif
            Done(s, "Reader.Bits", at);
            return v;
        }

        /// <summary>A bit field, as <see cref="Bits(uint)"/> reads it; a negative count
        /// is refused as any count outside 1 to 64 is (InvalidArg).</summary>
        public ulong Bits(int count) => Bits(count < 0 ? 0u : (uint)count);

        /// <summary>An unsigned LEB128 number of at most maxBytes bytes (above 10 acts as
        /// 10). TavbinException: InvalidArg if maxBytes is 0 or ten bytes all carry bit
        /// 7, Eof if the data or maxBytes ends first; the cursor is then where the
        /// number began.</summary>
        public ulong Leb128(ulong maxBytes = 10)
        {
            IntPtr r = Enter("Reader.Leb128");
            try
            {
                ulong m = Mark();
                int s = NativeMethods.tavbin_leb128(r, out ulong v, maxBytes);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, "Reader.Leb128");
                return v;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>Skips n bytes. TavbinException: Eof if fewer remain (the cursor is
        /// then past a partly read byte, if any, and no further).</summary>
        public void Skip(ulong n)
        {
            IntPtr r = Enter("Reader.Skip");
            try
            {
                ulong m = Mark();
                int s = NativeMethods.tavbin_skip(r, n);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, "Reader.Skip");
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>Skips n bytes, as <see cref="Skip(ulong)"/> does.
        /// ArgumentOutOfRangeException for a negative n.</summary>
        public void Skip(int n) => Skip(Checks.Count(n, nameof(n)));

        /// <summary>The next n bytes, in a new array. TavbinException: Eof if fewer
        /// remain (nothing is read; the cursor is past a partly read byte, if any).</summary>
        public byte[] Bytes(ulong n) => Block(n, false, "Reader.Bytes");

        /// <summary>The next n bytes, as <see cref="Bytes(ulong)"/> reads them.
        /// ArgumentOutOfRangeException for a negative n.</summary>
        public byte[] Bytes(int n) => Block(Checks.Count(n, nameof(n)), false, "Reader.Bytes");

        /// <summary>The next n characters of a fixed-length field, as bytes, unchanged;
        /// failures as <see cref="Bytes(ulong)"/>.</summary>
        public byte[] Ascii(ulong n) => Block(n, true, "Reader.Ascii");

        /// <summary>The next n characters, as <see cref="Ascii(ulong)"/> reads them.
        /// ArgumentOutOfRangeException for a negative n.</summary>
        public byte[] Ascii(int n) => Block(Checks.Count(n, nameof(n)), true, "Reader.Ascii");

        byte[] Block(ulong n, bool ascii, string what)
        {
            IntPtr r = Enter(what);
            try
            {
                ulong m = Mark();
                // More than remains cannot succeed, and the C call then fails on its
                // length test without touching dst: a token buffer lets it say so, where
                // n bytes could be more than any array holds. Inside the guard nothing
                // moves the cursor between the test and the call.
                byte[] dst = new byte[n <= NativeMethods.tavbin_remaining(r) ? n : 1];
                GCHandle pin = Checks.Pin(dst);
                int s;
                try
                {
                    IntPtr p = pin.AddrOfPinnedObject();
                    s = ascii ? NativeMethods.tavbin_ascii(r, p, n) : NativeMethods.tavbin_bytes(r, p, n);
                }
                finally
                {
                    Checks.Unpin(pin);
                }
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, what);
                return dst;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A string stored as a 32-bit byte count (in the reader's byte order)
        /// and that many bytes, in an array of exactly that size (no terminator).
        /// TavbinException: Eof if the count is missing, TooLarge if it exceeds maxLen,
        /// Eof if the data ends first; the cursor, bit position included, is then as it
        /// was.</summary>
        public byte[] StringU32(ulong maxLen = uint.MaxValue)
        {
            IntPtr r = Enter("Reader.StringU32");
            try
            {
                ulong m = Mark();
                // dst is sized from the count as the C read will see it (after the byte
                // alignment, in the reader's order); the peek moves nothing, and what it
                // records is replaced by what the read records.
                ulong cap = 1, room = 1;
                if (NativeMethods.tavbin_peek_u32(r, out uint len) == 0 && len <= maxLen)
                {
                    // When fewer bytes follow the count than it says, the read must fail
                    // with Eof, and it does so only if told of room for the whole string.
                    // It can never write more than the data holds (at least the count's
                    // 4 bytes remain), so no more than that is allocated: a hostile count
                    // costs nothing the data does not.
                    cap = (ulong)len + 1;
                    room = Math.Min(cap, NativeMethods.tavbin_remaining(r) - 3);
                }
                // Otherwise the read fails on the count (missing, or over maxLen) before
                // it uses dst.
                byte[] dst = new byte[room];
                ulong got;
                int s;
                GCHandle pin = Checks.Pin(dst);
                try
                {
                    s = NativeMethods.tavbin_string_u32(r, pin.AddrOfPinnedObject(), cap, maxLen, out got);
                }
                finally
                {
                    Checks.Unpin(pin);
                }
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, "Reader.StringU32");
                // got is the C call's own count, no more than dst holds.
                byte[] str = new byte[got];
                Buffer.BlockCopy(dst, 0, str, 0, (int)got);
                dst = str;
                return dst;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A string stored as an 8-bit byte count and that many bytes (Pascal
        /// strings, DNS labels), as <see cref="StringU32(ulong)"/> reads its 32-bit
        /// count: the same failures, nothing consumed on any.</summary>
        public byte[] StringU8(ulong maxLen = byte.MaxValue) => CopyOut(Prefixed(1, maxLen, "Reader.StringU8"));

        /// <summary>A string stored as a 16-bit byte count in the reader's byte order
        /// (the JVM's Utf8 constants) and that many bytes, as
        /// <see cref="StringU32(ulong)"/> reads its 32-bit count.</summary>
        public byte[] StringU16(ulong maxLen = ushort.MaxValue) => CopyOut(Prefixed(2, maxLen, "Reader.StringU16"));

        /// <summary>A string stored as an unsigned LEB128 byte count (WebAssembly names,
        /// protobuf's bytes) and that many bytes, as <see cref="StringU32(ulong)"/> reads
        /// its 32-bit count; a count that <see cref="Leb128(ulong)"/> would refuse
        /// (data ending inside it: Eof; ten bytes all carrying bit 7: InvalidArg) fails
        /// the same way.</summary>
        public byte[] StringLeb128(ulong maxLen = uint.MaxValue) => CopyOut(Prefixed(0, maxLen, "Reader.StringLeb128"));

        // A string found by Prefixed, still in the guard: copied out, then consumed.
        byte[] CopyOut(ulong start)
        {
            try
            {
                byte[] str = new byte[found];
                if (found != 0)
                    Marshal.Copy(At(start), str, 0, str.Length);
                Consume(start + found);
                return str;
            }
            finally
            {
                Leave();
            }
        }

        ulong found; // the length Prefixed found, read inside the same guard

        IntPtr At(ulong offset) => new IntPtr(data.ToInt64() + (long)offset);

        byte ByteAt(ulong offset) => Marshal.ReadByte(At(offset));

        // Moves the cursor to end, past a partly read byte, in one C call (which first
        // moves past that byte).
        void Consume(ulong end)
        {
            IntPtr r = raw;
            ulong p = NativeMethods.tavbin_tell(r) + (bitPos != 0 ? 1u : 0u);
            NativeMethods.tavbin_skip(r, end - p);
            bitPos = 0;
        }

        // Enters the guard and finds the string with a count of width bytes (0: a
        // LEB128 count) at the cursor, past a partly read byte: returns where its bytes
        // begin, found their number. On failure throws, having moved nothing and left
        // the guard. The count is read from the input itself, no C call a byte.
        ulong Prefixed(int width, ulong maxLen, string what)
        {
            IntPtr r = Enter(what);
            ulong at = NativeMethods.tavbin_tell(r);
            ulong p = at + (bitPos != 0 ? 1u : 0u), left = size - p;
            ulong n = 0;
            int taken;
            Status fault = Status.Ok;
            if (width == 0)
            {
                taken = Leb128At(p, left, 10, out n, out fault);
                // A count beyond 64 bits is refused, never cut to its low bits.
                if (fault == Status.Ok && taken == 10 && ByteAt(p + 9) > 1)
                    fault = Status.InvalidArg;
            }
            else if (left < (ulong)width)
            {
                taken = width;
                fault = Status.Eof;
            }
            else
            {
                taken = width;
                for (int i = 0; i < width; i++)
                {
                    ulong b = ByteAt(p + (ulong)i);
                    n |= order == Endian.Big ? b << (8 * (width - 1 - i)) : b << (8 * i);
                }
            }
            if (fault == Status.Ok && n > maxLen)
                fault = Status.TooLarge;
            else if (fault == Status.Ok && left - (ulong)taken < n)
                fault = Status.Eof;
            if (fault != Status.Ok)
            {
                Record(fault);
                Leave();
                throw new TavbinException(fault, at, what);
            }
            found = n;
            return p + (ulong)taken;
        }

        // Reads an unsigned LEB128 number of at most limit bytes at p, left bytes
        // remaining there, with tavbin_leb128's rules; returns its length.
        int Leb128At(ulong p, ulong left, int limit, out ulong value, out Status fault)
        {
            value = 0;
            fault = Status.Ok;
            for (int i = 0; i < limit; i++)
            {
                if ((ulong)i >= left)
                {
                    fault = Status.Eof;
                    return i;
                }
                byte b = ByteAt(p + (ulong)i);
                if (i < 9)
                    value |= (ulong)(b & 0x7F) << (7 * i);
                else
                    value |= (ulong)(b & 1) << 63; // of a tenth byte only the lowest bit counts
                if ((b & 0x80) == 0)
                    return i + 1;
            }
            fault = Status.InvalidArg;
            return limit;
        }

        // Records a failure in the C reader, which moves nothing, where a call can:
        // Eof through a read that must fail (not past a partly read byte, which a
        // consuming read would skip), InvalidArg through a zero-byte LEB128 read.
        // TooLarge and Range have no such call and are not recorded.
        void Record(Status fault)
        {
            IntPtr r = raw;
            ulong unused;
            if (fault == Status.InvalidArg)
                NativeMethods.tavbin_leb128(r, out unused, 0);
            else if (fault == Status.Eof && NativeMethods.tavbin_remaining(r) < 8)
                NativeMethods.tavbin_peek_u64(r, out unused);
            else if (fault == Status.Eof && bitPos == 0)
                NativeMethods.tavbin_skip(r, NativeMethods.tavbin_remaining(r) + 1);
        }

        /// <summary>An unsigned LEB128 number of at most 5 bytes whose value fits in 32
        /// bits (WebAssembly's indices and sizes). TavbinException, no byte of the number
        /// consumed (a partly read byte before it is skipped, as by Leb128):
        /// Eof if the data ends inside the number, InvalidArg if five bytes all carry
        /// bit 7 or the value does not fit.</summary>
        public uint Leb128U32() => (uint)Leb128Bounded(false, "Reader.Leb128U32");

        /// <summary>A signed LEB128 number of at most 5 bytes whose value fits in an int
        /// (WebAssembly's i32.const). TavbinException, no byte of the number consumed: Eof if the data
        /// ends inside the number, InvalidArg if five bytes all carry bit 7 or the value
        /// does not fit.</summary>
        public int Sleb128I32() => (int)Leb128Bounded(true, "Reader.Sleb128I32");

        long Leb128Bounded(bool signed, string what)
        {
            IntPtr r = Enter(what);
            try
            {
                ulong at = NativeMethods.tavbin_tell(r);
                ulong p = at + (bitPos != 0 ? 1u : 0u);
                int n = Leb128At(p, size - p, 5, out ulong v, out Status fault);
                if (fault == Status.Ok && n == 5)
                {
                    // The fifth byte holds bits 28 to 34: those above 31 must be zero,
                    // or for a signed number copies of bit 31.
                    byte last = ByteAt(p + 4);
                    bool fits = signed ? last <= 0x07 || last >= 0x78 : last <= 0x0F;
                    if (!fits)
                        fault = Status.InvalidArg;
                }
                if (fault != Status.Ok)
                {
                    // As Sleb128: a partly read byte is skipped first, and stays skipped.
                    if (bitPos != 0)
                    {
                        NativeMethods.tavbin_bit_align(r);
                        bitPos = 0;
                    }
                    Record(fault);
                    throw new TavbinException(fault, at, what);
                }
                Consume(p + (ulong)n);
                if (!signed)
                    return (long)v;
                if (n < 5 && (ByteAt(p + (ulong)n - 1) & 0x40) != 0)
                    v |= ulong.MaxValue << (7 * n);
                return (int)(uint)v;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>The next byte, as <see cref="U8"/> would read it, without moving.
        /// TavbinException: Eof at the end.</summary>
        public byte PeekU8() { int s = NativeMethods.tavbin_peek_u8(Enter("Reader.PeekU8"), out byte v); Done(s, "Reader.PeekU8"); return v; }

        /// <summary>The next 16-bit value, as <see cref="U16"/> would read it, without moving.</summary>
        public ushort PeekU16() { int s = NativeMethods.tavbin_peek_u16(Enter("Reader.PeekU16"), out ushort v); Done(s, "Reader.PeekU16"); return v; }

        /// <summary>The next 32-bit value, as <see cref="U32"/> would read it, without moving.</summary>
        public uint PeekU32() { int s = NativeMethods.tavbin_peek_u32(Enter("Reader.PeekU32"), out uint v); Done(s, "Reader.PeekU32"); return v; }

        /// <summary>The next 64-bit value, as <see cref="U64"/> would read it, without moving.</summary>
        public ulong PeekU64() { int s = NativeMethods.tavbin_peek_u64(Enter("Reader.PeekU64"), out ulong v); Done(s, "Reader.PeekU64"); return v; }

        /// <summary>The byte at an absolute offset; the cursor is not touched.
        /// TavbinException: Range if it lies outside the data, its Offset the offset
        /// given (U16At, U32At, U64At alike).</summary>
        public byte U8At(ulong offset) { int s = NativeMethods.tavbin_u8_at(Enter("Reader.U8At"), offset, out byte v); Done(s, "Reader.U8At", offset); return v; }

        /// <summary>The 16-bit value at an absolute offset, in the reader's byte order.</summary>
        public ushort U16At(ulong offset) { int s = NativeMethods.tavbin_u16_at(Enter("Reader.U16At"), offset, out ushort v); Done(s, "Reader.U16At", offset); return v; }

        /// <summary>The 32-bit value at an absolute offset, in the reader's byte order.</summary>
        public uint U32At(ulong offset) { int s = NativeMethods.tavbin_u32_at(Enter("Reader.U32At"), offset, out uint v); Done(s, "Reader.U32At", offset); return v; }

        /// <summary>The 64-bit value at an absolute offset, in the reader's byte order.</summary>
        public ulong U64At(ulong offset) { int s = NativeMethods.tavbin_u64_at(Enter("Reader.U64At"), offset, out ulong v); Done(s, "Reader.U64At", offset); return v; }

        /// <summary>The byte at an absolute offset given as an int (negative:
        /// ArgumentOutOfRangeException).</summary>
        public byte U8At(int offset) => U8At(Checks.Count(offset, nameof(offset)));

        /// <summary>The 16-bit value at an absolute offset given as an int.</summary>
        public ushort U16At(int offset) => U16At(Checks.Count(offset, nameof(offset)));

        /// <summary>The 32-bit value at an absolute offset given as an int.</summary>
        public uint U32At(int offset) => U32At(Checks.Count(offset, nameof(offset)));

        /// <summary>The 64-bit value at an absolute offset given as an int.</summary>
        public ulong U64At(int offset) => U64At(Checks.Count(offset, nameof(offset)));

        // --- The record layer -------------------------------------------------------

        // The reads below look at the input itself (the C reader does not hand its
        // bytes out), inside the guard, so the pinned bytes stay while they do.

        /// <summary>A signed LEB128 number, as DWARF and WebAssembly write them; longer
        /// forms than needed are accepted, a value outside long is refused.
        /// TavbinException: InvalidArg if maxBytes is 0, if ten bytes all carry bit 7,
        /// or if the tenth byte is neither 0x00 nor 0x7F; Eof if the data or maxBytes
        /// (below 10) ends first. The cursor is then where the number began.</summary>
        public long Sleb128(ulong maxBytes = 10)
        {
            IntPtr r = Enter("Reader.Sleb128");
            try
            {
                ulong m = Mark();
                if (maxBytes != 0)
                {
                    NativeMethods.tavbin_bit_align(r);
                    bitPos = 0;
                }
                ulong start = NativeMethods.tavbin_tell(r);
                ulong at = m != Unmarked ? m : start;
                int s = NativeMethods.tavbin_leb128(r, out ulong v, maxBytes);
                if (s != 0)
                    throw new TavbinException((Status)s, at, "Reader.Sleb128");
                ulong n = NativeMethods.tavbin_tell(r) - start; // 1 to 10
                byte last = ByteAt(start + n - 1);
                if (n == 10 && last != 0x00 && last != 0x7F)
                {
                    // Back where the number began; a zero-byte read records the refusal
                    // without moving anything.
                    NativeMethods.tavbin_seek(r, start);
                    NativeMethods.tavbin_leb128(r, out v, 0);
                    throw new TavbinException(Status.InvalidArg, at, "Reader.Sleb128");
                }
                if (n < 10 && (last & 0x40) != 0)
                    v |= ulong.MaxValue << (int)(7 * n);
                return (long)v;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A NUL-terminated string: the bytes before the next NUL (copied, NUL
        /// not included), consumed together with the NUL. Looks at no more than
        /// maxLen + 1 bytes. TavbinException: TooLarge if those hold no NUL (not
        /// recorded), Eof if the data ends first without one; the cursor does not move
        /// then (past a partly read byte, which stays skipped).</summary>
        public byte[] CString(ulong maxLen)
        {
            ulong pos = FindCString(maxLen, "Reader.CString");
            try
            {
                byte[] str = new byte[found];
                if (found != 0)
                    Marshal.Copy(At(pos), str, 0, str.Length);
                NativeMethods.tavbin_skip(raw, found + 1);
                return str;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A NUL-terminated string, as <see cref="CString(ulong)"/> reads it.
        /// ArgumentOutOfRangeException for a negative maxLen.</summary>
        public byte[] CString(int maxLen) => CString(Checks.Count(maxLen, nameof(maxLen)));

        // Enters the guard, moves past a partly read byte and finds the string at the
        // cursor: returns where it begins, found its length. On failure throws, having
        // left the guard.
        ulong FindCString(ulong maxLen, string what)
        {
            IntPtr r = Enter(what);
            try
            {
                ulong m = Mark();
                NativeMethods.tavbin_bit_align(r);
                bitPos = 0;
                ulong pos = NativeMethods.tavbin_tell(r), rem = size - pos;
                ulong at = m != Unmarked ? m : pos;
                ulong window = maxLen < rem ? maxLen + 1 : rem;
                long nul = IndexOfNul(pos, window);
                if (nul < 0)
                {
                    if (maxLen < rem)
                        throw new TavbinException(Status.TooLarge, at, what);
                    throw new TavbinException((Status)NativeMethods.tavbin_skip(r, rem + 1), at, what); // records Eof, moves nothing
                }
                found = (ulong)nul;
                return pos;
            }
            catch
            {
                Leave();
                throw;
            }
        }

        /// <summary>The NUL-terminated string at an absolute offset (ELF, PE and Mach-O
        /// name tables), read as <see cref="CString(ulong)"/> reads one; the cursor is
        /// not touched. TavbinException, its Offset the offset given: Range if the
        /// offset lies past the end, TooLarge if the maxLen + 1 bytes there hold no NUL,
        /// Eof if the data ends first without one.</summary>
        public byte[] CStringAt(ulong offset, ulong maxLen)
        {
            FindCStringAt(offset, maxLen, "Reader.CStringAt");
            try
            {
                byte[] str = new byte[found];
                if (found != 0)
                    Marshal.Copy(At(offset), str, 0, str.Length);
                return str;
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>The NUL-terminated string at an absolute offset given as an int, as
        /// <see cref="CStringAt(ulong, ulong)"/> reads it. ArgumentOutOfRangeException
        /// for a negative offset or maxLen.</summary>
        public byte[] CStringAt(int offset, int maxLen) =>
            CStringAt(Checks.Count(offset, nameof(offset)), Checks.Count(maxLen, nameof(maxLen)));

        void FindCStringAt(ulong offset, ulong maxLen, string what)
        {
            IntPtr r = Enter(what);
            try
            {
                if (offset > size)
                {
                    NativeMethods.tavbin_u8_at(r, offset, out byte unused); // records Range, moves nothing
                    throw new TavbinException(Status.Range, offset, what);
                }
                ulong rem = size - offset;
                ulong window = maxLen < rem ? maxLen + 1 : rem;
                long nul = IndexOfNul(offset, window);
                if (nul < 0)
                {
                    Status fault = maxLen < rem ? Status.TooLarge : Status.Eof;
                    Record(fault);
                    throw new TavbinException(fault, offset, what);
                }
                found = (ulong)nul;
            }
            catch
            {
                Leave();
                throw;
            }
        }

        long IndexOfNul(ulong from, ulong count)
        {
#if NET
            unsafe
            {
                byte* p = (byte*)data + from;
                for (ulong done = 0; done < count;)
                {
                    int len = (int)Math.Min(count - done, int.MaxValue);
                    int i = new ReadOnlySpan<byte>(p + done, len).IndexOf((byte)0);
                    if (i >= 0)
                        return (long)done + i;
                    done += (ulong)len;
                }
                return -1;
            }
#else
            for (ulong i = 0; i < count; i++)
                if (ByteAt(from + i) == 0)
                    return (long)i;
            return -1;
#endif
        }

        /// <summary>A new reader over the next n bytes of this one's input, in the same
        /// byte order, its cursor at 0 and its <see cref="Origin"/> where those bytes
        /// lie, so that a bad length inside a record cannot reach beyond it; this reader
        /// moves past the n bytes. It holds this reader's bytes until it is disposed
        /// itself, and keeps working after this reader's Dispose. TavbinException: Eof if
        /// fewer than n bytes remain (nothing moves, past a partly read byte).</summary>
        public Reader Sub(ulong n)
        {
            IntPtr r = Enter("Reader.Sub");
            try
            {
                ulong m = Mark();
                NativeMethods.tavbin_bit_align(r);
                bitPos = 0;
                ulong pos = NativeMethods.tavbin_tell(r);
                ulong at = m != Unmarked ? m : pos;
                if (size - pos < n)
                    throw new TavbinException((Status)NativeMethods.tavbin_skip(r, n), at, "Reader.Sub"); // records Eof, moves nothing
                // Opened before this one moves, so that running out of memory moves nothing.
                IntPtr first = At(pos);
                ReaderHandle sub = NativeMethods.tavbin_open(first, n, (uint)order);
                if (sub.IsInvalid)
                {
                    sub.Dispose();
                    throw new TavbinException(Status.Oom, at, "Reader.Sub");
                }
                sub.Own(h);
                NativeMethods.tavbin_skip(r, n);
#if NET
                return new Reader(sub, first, n, order, origin + pos, memory.Slice((int)pos, (int)n));
#else
                return new Reader(sub, first, n, order, origin + pos);
#endif
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A sub-reader over the next n bytes, as <see cref="Sub(ulong)"/> cuts
        /// it. ArgumentOutOfRangeException for a negative n.</summary>
        public Reader Sub(int n) => Sub(Checks.Count(n, nameof(n)));

        /// <summary>Starts reading bit fields least significant bit first (DEFLATE's
        /// order) at the next whole byte. The reader does not move until the result's
        /// Done (or Dispose) moves it past every byte a bit was taken from; read nothing
        /// else from it meanwhile.</summary>
        public LsbBitReader LsbBits()
        {
            ulong start = NativeMethods.tavbin_tell(Enter("Reader.LsbBits")) + (bitPos != 0 ? 1u : 0u);
            Leave();
            return new LsbBitReader(this, start);
        }

        // count bits from bit position pos after byte start, least significant first,
        // or throws as LsbBitReader.Read documents: inside the guard, so that the
        // bytes stay while they are read.
        internal ulong LsbTake(ulong start, ulong pos, int count)
        {
            Enter("LsbBitReader.Read");
            try
            {
                ulong at = start + pos / 8;
                ulong left = size > start ? (size - start) * 8 - pos : 0;
                if ((ulong)count > left)
                    throw new TavbinException(Status.Eof, at, "LsbBitReader.Read");
                ulong v = 0;
                for (int i = 0; i < count;)
                {
                    ulong bit = pos + (ulong)i;
                    int shift = (int)(bit & 7);
                    int take = Math.Min(8 - shift, count - i);
                    ulong part = (ulong)(ByteAt(start + bit / 8) >> shift) & ((1UL << take) - 1);
                    v |= part << i;
                    i += take;
                }
                return v;
            }
            finally
            {
                Leave();
            }
        }

        // --- Bulk values ------------------------------------------------------------

        bool Swapped => (order == Endian.Little) != BitConverter.IsLittleEndian;

        /// <summary>Fills values with values.Length values of T (byte, sbyte, ushort,
        /// short, uint, int, ulong, long, float or double) in the reader's byte order,
        /// in one block read: all or nothing. ArgumentException for another T;
        /// TavbinException: Eof if fewer bytes remain.</summary>
        public void Array<T>(T[] values) where T : struct
        {
            if (values == null)
                throw new ArgumentNullException(nameof(values));
#if NET
            Array(values.AsSpan());
#else
            int width = Bulk.Width<T>();
            IntPtr r = Enter("Reader.Array");
            GCHandle pin = Checks.Pin(values);
            try
            {
                ulong m = Mark();
                IntPtr p = pin.AddrOfPinnedObject();
                int s = NativeMethods.tavbin_bytes(r, p, (ulong)values.LongLength * (ulong)width);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, "Reader.Array");
                if (Swapped)
                    Bulk.Reverse(p, values.LongLength, width);
            }
            finally
            {
                Checks.Unpin(pin);
                Leave();
            }
#endif
        }

#if NET
        /// <summary>Fills values, as <see cref="Array{T}(T[])"/> does.</summary>
        public unsafe void Array<T>(Span<T> values) where T : struct
        {
            int width = Bulk.Width<T>();
            Span<byte> bytes = MemoryMarshal.AsBytes(values);
            Bytes(bytes, "Reader.Array");
            if (Swapped)
                Bulk.Reverse(bytes, width);
        }

        /// <summary>Fills dst with the next dst.Length bytes: all or nothing.
        /// TavbinException: Eof if fewer remain.</summary>
        public void Bytes(Span<byte> dst) => Bytes(dst, "Reader.Bytes");

        unsafe void Bytes(Span<byte> dst, string what)
        {
            IntPtr r = Enter(what);
            try
            {
                ulong m = Mark();
                int s;
                fixed (byte* p = dst)
                    s = NativeMethods.tavbin_bytes(r, (IntPtr)p, (ulong)dst.Length);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, what);
            }
            finally
            {
                Leave();
            }
        }

        // --- Slices of the input, no copy -------------------------------------------

        // The n bytes before the cursor's new place end, in the input.
        ReadOnlyMemory<byte> Slice(ulong start, ulong n) => memory.Slice((int)start, (int)n);

        /// <summary>The next n bytes as a slice of the reader's own input (the array or
        /// memory it was made from): no copy, no allocation. The slice is the caller's
        /// memory and stays valid after Dispose; failures as <see cref="Bytes(ulong)"/>.</summary>
        public ReadOnlyMemory<byte> BytesMemory(int n) => BlockMemory(Checks.Count(n, nameof(n)), "Reader.BytesMemory");

        /// <summary>The next n characters as a slice of the input, as
        /// <see cref="BytesMemory(int)"/>; failures as <see cref="Ascii(ulong)"/>.</summary>
        public ReadOnlyMemory<byte> AsciiMemory(int n) => BlockMemory(Checks.Count(n, nameof(n)), "Reader.AsciiMemory");

        ReadOnlyMemory<byte> BlockMemory(ulong n, string what)
        {
            IntPtr r = Enter(what);
            try
            {
                ulong m = Mark();
                // tavbin_ascii and tavbin_bytes read as tavbin_skip moves.
                int s = NativeMethods.tavbin_skip(r, n);
                if ((s | (int)bitPos) != 0)
                    Settle(s, m, what);
                return Slice(NativeMethods.tavbin_tell(r) - n, n);
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A NUL-terminated string as a slice of the input (NUL not included),
        /// read and consumed as <see cref="CString(ulong)"/> reads it, without a copy.</summary>
        public ReadOnlyMemory<byte> CStringMemory(ulong maxLen)
        {
            ulong pos = FindCString(maxLen, "Reader.CStringMemory");
            try
            {
                NativeMethods.tavbin_skip(raw, found + 1);
                return Slice(pos, found);
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>The NUL-terminated string at an absolute offset as a slice of the
        /// input, as <see cref="CStringAt(ulong, ulong)"/> finds it; the cursor is not
        /// touched.</summary>
        public ReadOnlyMemory<byte> CStringAtMemory(ulong offset, ulong maxLen)
        {
            FindCStringAt(offset, maxLen, "Reader.CStringAtMemory");
            try
            {
                return Slice(offset, found);
            }
            finally
            {
                Leave();
            }
        }

        /// <summary>A string with a 32-bit count as a slice of the input, read and
        /// consumed as <see cref="StringU32(ulong)"/> reads it, without a copy.</summary>
        public ReadOnlyMemory<byte> StringU32Memory(ulong maxLen = uint.MaxValue) => SliceOut(Prefixed(4, maxLen, "Reader.StringU32Memory"));

        /// <summary>A string with an 8-bit count as a slice of the input, as
        /// <see cref="StringU8(ulong)"/> reads it, without a copy.</summary>
        public ReadOnlyMemory<byte> StringU8Memory(ulong maxLen = byte.MaxValue) => SliceOut(Prefixed(1, maxLen, "Reader.StringU8Memory"));

        /// <summary>A string with a 16-bit count as a slice of the input, as
        /// <see cref="StringU16(ulong)"/> reads it, without a copy.</summary>
        public ReadOnlyMemory<byte> StringU16Memory(ulong maxLen = ushort.MaxValue) => SliceOut(Prefixed(2, maxLen, "Reader.StringU16Memory"));

        /// <summary>A string with a LEB128 count as a slice of the input, as
        /// <see cref="StringLeb128(ulong)"/> reads it, without a copy.</summary>
        public ReadOnlyMemory<byte> StringLeb128Memory(ulong maxLen = uint.MaxValue) => SliceOut(Prefixed(0, maxLen, "Reader.StringLeb128Memory"));

        ReadOnlyMemory<byte> SliceOut(ulong start)
        {
            try
            {
                Consume(start + found);
                return Slice(start, found);
            }
            finally
            {
                Leave();
            }
        }
#endif
    }
}
