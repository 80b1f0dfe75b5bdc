// Writer.cs - a growing buffer of encoded values, written through the module
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// Every call runs inside the writer's guard (Core/Guard.cs): the C writer reallocates
// its buffer as it grows, so two appends at once would corrupt the native heap, and
// a Dispose under an append would free the buffer it copies into.

using System;
using System.Runtime.InteropServices;
#if NET
using System.Buffers;
#endif
using Tavbin.Core;
using Tavbin.Core.Handles;

namespace Tavbin
{
    /// <summary>A growing buffer of encoded values, owned by the module until disposed.
    /// Each append throws TavbinException on failure (its Offset the Length, where the
    /// append would have gone) and then leaves the bytes as they were. A writer is for
    /// one thread at a time: a call made while another thread's call runs on the same
    /// writer throws InvalidOperationException, and a Dispose on another thread waits
    /// for a running call to end.</summary>
    public sealed class Writer : IDisposable
    {
        readonly WriterHandle h;
        readonly IntPtr raw; // the C writer, valid until the guard is closed
        Guard guard;
        Endian order; // for patches, arrays and the 16-bit prefix: the C writer does not tell it

        /// <summary>A new, empty writer. initialCap: bytes to allocate at first, 0
        /// meaning 64. TavbinException: InvalidArg for a byte order that is not one, Oom
        /// if the buffer cannot be allocated.</summary>
        public Writer(ulong initialCap = 0, Endian order = Endian.Big)
        {
            h = NativeMethods.tavbinw_open(initialCap, (uint)order);
            if (h.IsInvalid)
            {
                h.Dispose();
                throw Library.OpenFailed(order, "new Writer");
            }
            h.Opened();
            this.order = order;
            raw = h.DangerousGetHandle();
            guard.Init(false);
        }

        /// <summary>Frees the buffer; later calls throw ObjectDisposedException. A call
        /// running on another thread ends first. Calling it again does nothing.</summary>
        public void Dispose()
        {
            if (guard.Close())
                h.Dispose();
        }

        IntPtr Enter(string what)
        {
            guard.Enter(what);
            return raw;
        }

        void Leave() => guard.Leave(false);

        // Leaves after an append: a failed one left the length as it was, which is
        // where it began.
        void Done(int status, string what)
        {
            if (status != 0)
            {
                ulong at = NativeMethods.tavbinw_len(raw);
                Leave();
                throw new TavbinException((Status)status, at, what);
            }
            Leave();
        }

        /// <summary>Number of bytes written so far.</summary>
        public ulong Length
        {
            get
            {
                ulong n = NativeMethods.tavbinw_len(Enter("Writer.Length"));
                Leave();
                return n;
            }
        }

        /// <summary>Status recorded by the last call that records one.</summary>
        public Status LastError
        {
            get
            {
                Status s = (Status)NativeMethods.tavbinw_last_error(Enter("Writer.LastError"));
                Leave();
                return s;
            }
        }

        /// <summary>Changes the byte order of the appends and patches that follow.
        /// TavbinException: InvalidArg for a byte order that is not one.</summary>
        public void SetEndian(Endian order)
        {
            int s = NativeMethods.tavbinw_set_endian(Enter("Writer.SetEndian"), (uint)order);
            if (s == 0)
                this.order = order;
            Done(s, "Writer.SetEndian");
        }

        /// <summary>Appends a byte. TavbinException: Oom if the buffer cannot grow (every
        /// append alike).</summary>
        public void U8(byte value) => Done(NativeMethods.tavbinw_u8(Enter("Writer.U8"), value), "Writer.U8");

        /// <summary>Appends a 16-bit unsigned integer in the writer's byte order.</summary>
        public void U16(ushort value) => Done(NativeMethods.tavbinw_u16(Enter("Writer.U16"), value), "Writer.U16");

        /// <summary>Appends a 16-bit two's complement integer in the writer's byte order.</summary>
        public void I16(short value) => Done(NativeMethods.tavbinw_i16(Enter("Writer.I16"), value), "Writer.I16");

        /// <summary>Appends a 32-bit unsigned integer in the writer's byte order.</summary>
        public void U32(uint value) => Done(NativeMethods.tavbinw_u32(Enter("Writer.U32"), value), "Writer.U32");

        /// <summary>Appends a 32-bit two's complement integer in the writer's byte order.</summary>
        public void I32(int value) => Done(NativeMethods.tavbinw_i32(Enter("Writer.I32"), value), "Writer.I32");

        /// <summary>Appends an IEEE 754 binary32 value in the writer's byte order.</summary>
        public void F32(float value) => Done(NativeMethods.tavbinw_f32(Enter("Writer.F32"), value), "Writer.F32");

        /// <summary>Appends a 64-bit unsigned integer in the writer's byte order.</summary>
        public void U64(ulong value) => Done(NativeMethods.tavbinw_u64(Enter("Writer.U64"), value), "Writer.U64");

        /// <summary>Appends a 64-bit two's complement integer in the writer's byte order.</summary>
        public void I64(long value) => Done(NativeMethods.tavbinw_i64(Enter("Writer.I64"), value), "Writer.I64");

        /// <summary>Appends an IEEE 754 binary64 value in the writer's byte order.</summary>
        public void F64(double value) => Done(NativeMethods.tavbinw_f64(Enter("Writer.F64"), value), "Writer.F64");

        /// <summary>An unsigned LEB128 number in its shortest form.</summary>
        public void Leb128(ulong value) => Done(NativeMethods.tavbinw_leb128(Enter("Writer.Leb128"), value), "Writer.Leb128");

        /// <summary>Appends the bytes: all or nothing.</summary>
        public void Bytes(byte[] data) => Append(data, 0, data == null ? 0 : data.Length, false, "Writer.Bytes");

        /// <summary>A 32-bit byte count in the writer's byte order, then the bytes.
        /// TavbinException: TooLarge for more than 0xFFFFFFFF bytes (nothing appended).</summary>
        public void StringU32(byte[] data) => Append(data, 0, data == null ? 0 : data.Length, true, "Writer.StringU32");

        /// <summary>An 8-bit byte count, then the bytes, in one append (what
        /// Reader.StringU8 reads). TavbinException: TooLarge for more than 255 bytes
        /// (nothing appended).</summary>
        public void StringU8(byte[] data) => Prefixed(data, 1, "Writer.StringU8");

        /// <summary>A 16-bit byte count in the writer's byte order, then the bytes, in one
        /// append. TavbinException: TooLarge for more than 65535 bytes (nothing
        /// appended).</summary>
        public void StringU16(byte[] data) => Prefixed(data, 2, "Writer.StringU16");

        /// <summary>An unsigned LEB128 byte count in its shortest form, then the bytes, in
        /// one append. TavbinException: TooLarge for more than 0xFFFFFFFF bytes, as
        /// <see cref="StringU32"/> (nothing appended).</summary>
        public void StringLeb128(byte[] data) => Prefixed(data, 0, "Writer.StringLeb128");

        // The count (width bytes, 0: LEB128) and the bytes, built whole and appended by
        // one C call, so that nothing is appended unless all of it is.
        void Prefixed(byte[] data, int width, string what)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            ulong n = (ulong)data.LongLength;
            ulong limit = width == 1 ? byte.MaxValue : width == 2 ? ushort.MaxValue : uint.MaxValue;
            if (n > limit)
            {
                ulong at = Length;
                throw new TavbinException(Status.TooLarge, at, what);
            }
            byte[] prefix = new byte[width == 0 ? 5 : width];
            int used = 0;
            if (width == 0)
            {
                do
                {
                    byte group = (byte)(n & 0x7F);
                    n >>= 7;
                    prefix[used++] = n != 0 ? (byte)(group | 0x80) : group;
                } while (n != 0);
            }
            else if (width == 1)
                prefix[used++] = (byte)n;
            else
            {
                prefix[0] = (byte)(order == Endian.Big ? n >> 8 : n);
                prefix[1] = (byte)(order == Endian.Big ? n : n >> 8);
                used = 2;
            }
            byte[] whole = new byte[used + data.Length];
            Buffer.BlockCopy(prefix, 0, whole, 0, used);
            Buffer.BlockCopy(data, 0, whole, used, data.Length);
            Append(whole, 0, whole.Length, false, what);
        }

        void Append(byte[] data, int from, int n, bool counted, string what)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            GCHandle pin = Checks.Pin(data);
            IntPtr w;
            try
            {
                w = Enter(what);
            }
            catch
            {
                Checks.Unpin(pin);
                throw;
            }
            int s;
            try
            {
                IntPtr p = pin.AddrOfPinnedObject() + from;
                s = counted ? NativeMethods.tavbinw_string_u32(w, p, (ulong)n) : NativeMethods.tavbinw_bytes(w, p, (ulong)n);
            }
            finally
            {
                Checks.Unpin(pin);
            }
            Done(s, what);
        }

        /// <summary>A signed LEB128 number (what Reader.Sleb128 reads) in its shortest
        /// form, 1 to 10 bytes.</summary>
        public void Sleb128(long value)
        {
            byte[] buf = new byte[10];
            int n = 0;
            for (;;)
            {
                byte group = (byte)(value & 0x7F);
                value >>= 7; // arithmetic: the rest keeps the sign
                // Done once the rest is all sign and bit 6 of this group already says so.
                if ((value == 0 && (group & 0x40) == 0) || (value == -1 && (group & 0x40) != 0))
                {
                    buf[n++] = group;
                    break;
                }
                buf[n++] = (byte)(group | 0x80);
            }
            Append(buf, 0, n, false, "Writer.Sleb128");
        }

        /// <summary>A 24-bit unsigned value in the writer's byte order. TavbinException:
        /// Range if it is above 0xFFFFFF (nothing appended).</summary>
        public void U24(uint value)
        {
            if (value > 0xFFFFFF)
                throw new TavbinException(Status.Range, Length, "Writer.U24");
            Append24(value, "Writer.U24");
        }

        /// <summary>A 24-bit two's complement value in the writer's byte order.
        /// TavbinException: Range outside -8388608 to 8388607 (nothing appended).</summary>
        public void I24(int value)
        {
            if (value < -0x800000 || value > 0x7FFFFF)
                throw new TavbinException(Status.Range, Length, "Writer.I24");
            Append24((uint)value & 0xFFFFFF, "Writer.I24");
        }

        void Append24(uint v, string what)
        {
            byte[] b = order == Endian.Big
                ? new[] { (byte)(v >> 16), (byte)(v >> 8), (byte)v }
                : new[] { (byte)v, (byte)(v >> 8), (byte)(v >> 16) };
            Append(b, 0, 3, false, what);
        }

        /// <summary>Overwrites a 16-bit value already written, in the writer's byte
        /// order, at offset from the start: a length or checksum known only after what
        /// follows it. TavbinException: Range if the value does not lie wholly inside the
        /// written bytes (nothing is written; the exception's Offset is the offset
        /// given). Not recorded in LastError.</summary>
        public void PatchU16(ulong offset, ushort value) => Patch(offset, 2, value, "Writer.PatchU16");

        /// <summary>Overwrites a 32-bit value already written, as <see cref="PatchU16"/> does.</summary>
        public void PatchU32(ulong offset, uint value) => Patch(offset, 4, value, "Writer.PatchU32");

        /// <summary>Overwrites a 64-bit value already written, as <see cref="PatchU16"/> does.</summary>
        public void PatchU64(ulong offset, ulong value) => Patch(offset, 8, value, "Writer.PatchU64");

        void Patch(ulong offset, int width, ulong value, string what)
        {
            IntPtr w = Enter(what);
            try
            {
                ulong len = NativeMethods.tavbinw_len(w);
                if (offset > len || len - offset < (ulong)width)
                    throw new TavbinException(Status.Range, offset, what);
                IntPtr at = new IntPtr(NativeMethods.tavbinw_data(w).ToInt64() + (long)offset);
                ulong room = len - offset;
                int s = width == 2 ? NativeMethods.tavbin_store_u16(at, room, (uint)order, (ushort)value)
                      : width == 4 ? NativeMethods.tavbin_store_u32(at, room, (uint)order, (uint)value)
                      : NativeMethods.tavbin_store_u64(at, room, (uint)order, value);
                if (s != 0)
                    throw new TavbinException((Status)s, offset, what);
            }
            finally
            {
                Leave();
            }
        }

        bool Swapped => (order == Endian.Little) != BitConverter.IsLittleEndian;

        /// <summary>Appends the values of T (byte, sbyte, ushort, short, uint, int, ulong,
        /// long, float or double) in the writer's byte order, in one append: all or
        /// nothing. ArgumentException for another T.</summary>
        public void Array<T>(T[] values) where T : struct
        {
            if (values == null)
                throw new ArgumentNullException(nameof(values));
#if NET
            Array((ReadOnlySpan<T>)values);
#else
            int width = Bulk.Width<T>();
            byte[] bytes = new byte[values.LongLength * width];
            Buffer.BlockCopy(values, 0, bytes, 0, bytes.Length);
            if (Swapped)
            {
                GCHandle pin = Checks.Pin(bytes);
                try { Bulk.Reverse(pin.AddrOfPinnedObject(), values.LongLength, width); }
                finally { Checks.Unpin(pin); }
            }
            Append(bytes, 0, bytes.Length, false, "Writer.Array");
#endif
        }

        /// <summary>A copy of the bytes written so far.</summary>
        public byte[] ToArray()
        {
            IntPtr w = Enter("Writer.ToArray");
            try
            {
                ulong n = NativeMethods.tavbinw_len(w);
                if (n > int.MaxValue)
                    throw new InvalidOperationException("Writer.ToArray: the writer holds more bytes than an array can");
                byte[] a = new byte[n];
                if (n != 0)
                    Marshal.Copy(NativeMethods.tavbinw_data(w), a, 0, (int)n);
                return a;
            }
            finally
            {
                Leave();
            }
        }

#if NET
        /// <summary>Appends the values, as <see cref="Array{T}(T[])"/> does.</summary>
        public void Array<T>(ReadOnlySpan<T> values) where T : struct
        {
            int width = Bulk.Width<T>();
            ReadOnlySpan<byte> bytes = MemoryMarshal.AsBytes(values);
            if (!Swapped || width == 1)
            {
                Bytes(bytes, "Writer.Array");
                return;
            }
            byte[] rented = ArrayPool<byte>.Shared.Rent(bytes.Length);
            try
            {
                Span<byte> swapped = rented.AsSpan(0, bytes.Length);
                bytes.CopyTo(swapped);
                Bulk.Reverse(swapped, width);
                Bytes(swapped, "Writer.Array");
            }
            finally
            {
                ArrayPool<byte>.Shared.Return(rented);
            }
        }

        /// <summary>Appends the bytes: all or nothing.</summary>
        public void Bytes(ReadOnlySpan<byte> data) => Bytes(data, "Writer.Bytes");

        unsafe void Bytes(ReadOnlySpan<byte> data, string what)
        {
            IntPtr w = Enter(what);
            int s;
            fixed (byte* p = data)
                s = NativeMethods.tavbinw_bytes(w, (IntPtr)p, (ulong)data.Length);
            Done(s, what);
        }

        /// <summary>The bytes written so far, viewed in the module's buffer without a
        /// copy. The view is valid only until the next call on this writer that appends
        /// (which may move the buffer) or Dispose (which frees it); reading it after
        /// either reads freed or stale memory, and no check can catch that. Take it
        /// afresh after every append, keep it on this writer's thread, and copy it out
        /// (<see cref="ToArray"/>) to keep the bytes.</summary>
        public unsafe ReadOnlySpan<byte> WrittenSpan
        {
            get
            {
                IntPtr w = Enter("Writer.WrittenSpan");
                try
                {
                    ulong n = NativeMethods.tavbinw_len(w);
                    if (n > int.MaxValue)
                        throw new InvalidOperationException("Writer.WrittenSpan: the writer holds more bytes than a span can");
                    return new ReadOnlySpan<byte>((void*)NativeMethods.tavbinw_data(w), (int)n);
                }
                finally
                {
                    Leave();
                }
            }
        }
#endif
    }
}
