// Tavbin.cs - the C# binding of binary-read-util
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// One file, two builds. Outside the NET sections it is C# 7 with nothing beyond what
// .NET Framework 4.6.1 and netstandard2.0 have, so Mono's mcs compiles the same file
// and no unsafe code is needed. The NET sections (net8.0 and later) add spans, the
// source-generated declarations and a library resolver.
//
// Native is the module's 58 functions declared once, exactly as tavbin.h declares
// them, and is internal: the handles are SafeHandles that only this file closes.
// Reader, Writer and Library wrap them: a value comes back as the return value, any
// status but TAVBIN_OK becomes a TavbinException carrying the status and the byte
// offset where the failed call began, and the cursor and recorded status after a
// failure are exactly what the C call left (tavbin.h says what that is for each
// call). The record layer (Sleb128, CString, Sub, U24/I24, patches, least
// significant bit first fields, arrays) follows the C++ wrapper, include/tavbin.hpp;
// tests/vectors/record.txt holds both to the same cases.
//
// Loading: DllImport("binary-read-util") finds binary-read-util.dll on Windows, in
// the assembly's folder or System32 only (DefaultDllImportSearchPaths), and
// libbinary-read-util.so elsewhere. On net8.0 and later a resolver loads the file
// named by TAVBIN_LIBRARY when that is set (or fails naming it), then the package's
// own copy, then libbinary-read-util.so.1 as installed on Linux. Mono uses a dllmap.

using System;
using System.Runtime.CompilerServices;
using System.Runtime.InteropServices;
using System.Threading;
using Microsoft.Win32.SafeHandles;
#if NET
using System.Buffers;
using System.Buffers.Binary;
using System.Reflection;
using System.Runtime.InteropServices.Marshalling;
#endif
using static Tavbin.Checks;

[assembly: InternalsVisibleTo("TavbinTests")]
[assembly: DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]

namespace Tavbin
{
    /// <summary>The status of a call; the values are the C codes and never change.</summary>
    public enum Status
    {
        /// <summary>Success.</summary>
        Ok = 0,
        /// <summary>Fewer bytes remain than the read needs.</summary>
        Eof = 1,
        /// <summary>Seek past the end, absolute read or store out of bounds, a value that
        /// does not fit its field.</summary>
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
        public TavbinException(Status status) : this(status, 0) { }

        public TavbinException(Status status, ulong offset) : base(Library.StrError((int)status))
        {
            Status = status;
            Offset = offset;
        }

        public Status Status { get; }

        /// <summary>Where the failed call began: for a reader, its Tell() just before the
        /// call (for a least-significant-bit-first read, the byte its first bit would have
        /// come from); for a writer, its Length; for a load, store or patch, the offset
        /// it was given.</summary>
        public ulong Offset { get; }
    }

    // What Reader, Writer and Library share: a failed status becomes an exception, a
    // closed handle an ObjectDisposedException rather than a call.
    static class Checks
    {
        internal static void Check(int status, ulong offset)
        {
            if (status != 0)
                throw new TavbinException((Status)status, offset);
        }

        internal static T Live<T>(T handle, string owner) where T : SafeHandle
        {
            if (handle.IsClosed)
                throw new ObjectDisposedException(owner);
            return handle;
        }

        // Native handles and pins held by this binding, all kinds together: every open
        // and every pin counts one up, its release one down, so the tests can tell
        // that nothing is kept beyond its owner.
        static int held;
        internal static int Held => Volatile.Read(ref held);
        internal static void Hold(int n) => Interlocked.Add(ref held, n);

        // Every pin of the caller's memory goes through these two, so that it counts.
        internal static GCHandle Pin(object array)
        {
            GCHandle pin = GCHandle.Alloc(array, GCHandleType.Pinned);
            Hold(1);
            return pin;
        }

        internal static void Unpin(GCHandle pin)
        {
            pin.Free();
            Hold(-1);
        }
    }

    /// <summary>A native reader. Releasing it closes the reader and then lets go of the
    /// bytes it reads (unpins the array or memory, or releases the reader it was cut
    /// from), in that order: all belong to this one object, so no finaliser ordering
    /// can free the bytes under a live reader.</summary>
    sealed class ReaderHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        GCHandle pinned;
        IDisposable owned;
        ReaderHandle parent;

        // Created by the marshaller when tavbin_open returns.
        public ReaderHandle() : base(true) { }

        internal void Own(GCHandle pin)
        {
            pinned = pin; // counted when it was made
            Hold(1);
        }

        internal void Own(IDisposable memory)
        {
            owned = memory;
            Hold(2);
        }

        // A sub-reader keeps the reader it was cut from, and so its bytes, alive.
        internal void Own(ReaderHandle from)
        {
            bool added = false;
            from.DangerousAddRef(ref added);
            parent = from;
            Hold(2);
        }

        protected override bool ReleaseHandle()
        {
            Native.tavbin_close(handle);
            int n = 1;
            if (pinned.IsAllocated)
                Unpin(pinned);
            if (owned != null)
            {
                owned.Dispose();
                n++;
            }
            if (parent != null)
            {
                parent.DangerousRelease();
                n++;
            }
            Hold(-n);
            return true;
        }
    }

    /// <summary>A native writer; releasing it closes the writer and frees its buffer.</summary>
    sealed class WriterHandle : SafeHandleZeroOrMinusOneIsInvalid
    {
        public WriterHandle() : base(true) { }

        internal void Opened() => Hold(1);

        protected override bool ReleaseHandle()
        {
            Native.tavbinw_close(handle);
            Hold(-1);
            return true;
        }
    }

    /// <summary>The module's functions as tavbin.h declares them: uint64_t is ulong,
    /// statuses are int, byte orders uint, data pointers IntPtr, outputs out, handles
    /// their SafeHandle (the raw pointer in the close functions, which only the
    /// handles' release calls). tavbin_strerror's text is static: read it with
    /// Marshal.PtrToStringAnsi and never free it. On net8.0 and later the declarations
    /// are generated and blittable, and the calls that never allocate, block or copy
    /// more than a few bytes skip the GC transition.</summary>
    static partial class Native
    {
        internal const string Lib = "binary-read-util";
        // The module's file name as installed on Linux, where the loader's search by
        // Lib would want a libbinary-read-util.so that only development setups have.
        internal const string LinuxInstalledName = "libbinary-read-util.so.1";
#if NET
        // Runs when the assembly loads, before any call can reach the module.
#pragma warning disable CA2255
        [ModuleInitializer]
        internal static void Init() => NativeLibrary.SetDllImportResolver(typeof(Native).Assembly, Resolve);
#pragma warning restore CA2255

        static IntPtr Resolve(string name, Assembly assembly, DllImportSearchPath? paths)
        {
            if (name != Lib)
                return IntPtr.Zero;
            string path = Environment.GetEnvironmentVariable("TAVBIN_LIBRARY");
            if (!string.IsNullOrEmpty(path))
            {
                // An explicit choice is obeyed or refused, never replaced by another copy.
                if (NativeLibrary.TryLoad(path, out IntPtr chosen))
                    return chosen;
                throw new DllNotFoundException("TAVBIN_LIBRARY names " + path + ", which does not load");
            }
            if (NativeLibrary.TryLoad(name, assembly, paths ?? DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32, out IntPtr found))
                return found;
            if (OperatingSystem.IsLinux() && NativeLibrary.TryLoad(LinuxInstalledName, out found))
                return found;
            return IntPtr.Zero;
        }

        // The fixed-width reads once more, on the reader's raw pointer, for
        // Reader's fast path (Reader.Enter says why that is safe).
        internal static partial class Raw
        {
            [LibraryImport(Lib, EntryPoint = "tavbin_u8"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int u8(IntPtr r, out byte value);
            [LibraryImport(Lib, EntryPoint = "tavbin_i8"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int i8(IntPtr r, out sbyte value);
            [LibraryImport(Lib, EntryPoint = "tavbin_u16"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int u16(IntPtr r, out ushort value);
            [LibraryImport(Lib, EntryPoint = "tavbin_i16"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int i16(IntPtr r, out short value);
            [LibraryImport(Lib, EntryPoint = "tavbin_u32"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int u32(IntPtr r, out uint value);
            [LibraryImport(Lib, EntryPoint = "tavbin_i32"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int i32(IntPtr r, out int value);
            [LibraryImport(Lib, EntryPoint = "tavbin_f32"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int f32(IntPtr r, out float value);
            [LibraryImport(Lib, EntryPoint = "tavbin_u64"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int u64(IntPtr r, out ulong value);
            [LibraryImport(Lib, EntryPoint = "tavbin_i64"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int i64(IntPtr r, out long value);
            [LibraryImport(Lib, EntryPoint = "tavbin_f64"), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
            internal static partial int f64(IntPtr r, out double value);
        }

        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial IntPtr tavbin_strerror(int status);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_load_u16(IntPtr src, ulong avail, uint endian, out ushort value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_load_u32(IntPtr src, ulong avail, uint endian, out uint value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_load_u64(IntPtr src, ulong avail, uint endian, out ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_store_u16(IntPtr dst, ulong cap, uint endian, ushort value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_store_u32(IntPtr dst, ulong cap, uint endian, uint value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_store_u64(IntPtr dst, ulong cap, uint endian, ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial ReaderHandle tavbin_open(IntPtr data, ulong size, uint endian);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial void tavbin_close(IntPtr r);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_set_endian(ReaderHandle r, uint endian);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_seek(ReaderHandle r, ulong offset);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial ulong tavbin_tell(ReaderHandle r);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial ulong tavbin_remaining(ReaderHandle r);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial ulong tavbin_size(ReaderHandle r);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_last_error(ReaderHandle r);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial void tavbin_bit_align(ReaderHandle r);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u8(ReaderHandle r, out byte value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_i8(ReaderHandle r, out sbyte value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_bits(ReaderHandle r, uint count, out ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u16(ReaderHandle r, out ushort value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_i16(ReaderHandle r, out short value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u32(ReaderHandle r, out uint value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_i32(ReaderHandle r, out int value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_f32(ReaderHandle r, out float value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u64(ReaderHandle r, out ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_i64(ReaderHandle r, out long value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_f64(ReaderHandle r, out double value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbin_bytes(ReaderHandle r, IntPtr dst, ulong n);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbin_ascii(ReaderHandle r, IntPtr dst, ulong n);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_skip(ReaderHandle r, ulong n);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_peek_u8(ReaderHandle r, out byte value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_peek_u16(ReaderHandle r, out ushort value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_peek_u32(ReaderHandle r, out uint value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_peek_u64(ReaderHandle r, out ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u8_at(ReaderHandle r, ulong offset, out byte value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u16_at(ReaderHandle r, ulong offset, out ushort value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u32_at(ReaderHandle r, ulong offset, out uint value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_u64_at(ReaderHandle r, ulong offset, out ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbin_string_u32(ReaderHandle r, IntPtr dst, ulong dstCap, ulong maxLen, out ulong outLen);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbin_leb128(ReaderHandle r, out ulong value, ulong maxBytes);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial WriterHandle tavbinw_open(ulong initialCap, uint endian);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial void tavbinw_close(IntPtr w);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbinw_set_endian(WriterHandle w, uint endian);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial IntPtr tavbinw_data(WriterHandle w);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial ulong tavbinw_len(WriterHandle w);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) }), SuppressGCTransition]
        internal static partial int tavbinw_last_error(WriterHandle w);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_bytes(WriterHandle w, IntPtr src, ulong n);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_u8(WriterHandle w, byte value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_u16(WriterHandle w, ushort value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_i16(WriterHandle w, short value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_u32(WriterHandle w, uint value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_i32(WriterHandle w, int value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_f32(WriterHandle w, float value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_u64(WriterHandle w, ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_i64(WriterHandle w, long value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_f64(WriterHandle w, double value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_leb128(WriterHandle w, ulong value);
        [LibraryImport(Lib), UnmanagedCallConv(CallConvs = new[] { typeof(CallConvCdecl) })]
        internal static partial int tavbinw_string_u32(WriterHandle w, IntPtr src, ulong n);
#else
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern IntPtr tavbin_strerror(int status);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_load_u16(IntPtr src, ulong avail, uint endian, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_load_u32(IntPtr src, ulong avail, uint endian, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_load_u64(IntPtr src, ulong avail, uint endian, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_store_u16(IntPtr dst, ulong cap, uint endian, ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_store_u32(IntPtr dst, ulong cap, uint endian, uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_store_u64(IntPtr dst, ulong cap, uint endian, ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern ReaderHandle tavbin_open(IntPtr data, ulong size, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void tavbin_close(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_set_endian(ReaderHandle r, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_seek(ReaderHandle r, ulong offset);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern ulong tavbin_tell(ReaderHandle r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern ulong tavbin_remaining(ReaderHandle r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern ulong tavbin_size(ReaderHandle r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_last_error(ReaderHandle r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void tavbin_bit_align(ReaderHandle r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u8(ReaderHandle r, out byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_i8(ReaderHandle r, out sbyte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_bits(ReaderHandle r, uint count, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u16(ReaderHandle r, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_i16(ReaderHandle r, out short value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u32(ReaderHandle r, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_i32(ReaderHandle r, out int value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_f32(ReaderHandle r, out float value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u64(ReaderHandle r, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_i64(ReaderHandle r, out long value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_f64(ReaderHandle r, out double value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_bytes(ReaderHandle r, IntPtr dst, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_ascii(ReaderHandle r, IntPtr dst, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_skip(ReaderHandle r, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_peek_u8(ReaderHandle r, out byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_peek_u16(ReaderHandle r, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_peek_u32(ReaderHandle r, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_peek_u64(ReaderHandle r, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u8_at(ReaderHandle r, ulong offset, out byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u16_at(ReaderHandle r, ulong offset, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u32_at(ReaderHandle r, ulong offset, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_u64_at(ReaderHandle r, ulong offset, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_string_u32(ReaderHandle r, IntPtr dst, ulong dstCap, ulong maxLen, out ulong outLen);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_leb128(ReaderHandle r, out ulong value, ulong maxBytes);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern WriterHandle tavbinw_open(ulong initialCap, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void tavbinw_close(IntPtr w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_set_endian(WriterHandle w, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern IntPtr tavbinw_data(WriterHandle w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern ulong tavbinw_len(WriterHandle w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_last_error(WriterHandle w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_bytes(WriterHandle w, IntPtr src, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u8(WriterHandle w, byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u16(WriterHandle w, ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_i16(WriterHandle w, short value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u32(WriterHandle w, uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_i32(WriterHandle w, int value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_f32(WriterHandle w, float value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u64(WriterHandle w, ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_i64(WriterHandle w, long value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_f64(WriterHandle w, double value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_leb128(WriterHandle w, ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_string_u32(WriterHandle w, IntPtr src, ulong n);
#endif
    }

    /// <summary>A cursor over bytes: an array, or on net8.0 and later any
    /// ReadOnlyMemory&lt;byte&gt;. The bytes are pinned, and so kept alive and in place,
    /// until the reader (and every reader cut from it by <see cref="Sub"/>) is disposed
    /// or finalised; do not change them meanwhile. Each read returns its value or
    /// throws TavbinException, the cursor then left exactly as the C call left it.
    /// One reader must not be used by two threads at once; a Dispose on another
    /// thread never frees anything under a running call.</summary>
    public sealed class Reader : IDisposable
    {
        const ulong Unmarked = ulong.MaxValue;

        readonly ReaderHandle h;
        readonly IntPtr data; // the first byte of the input, valid while h is
        Endian order;         // for Sub and Array: the C reader does not tell it
        uint bitPos;          // bits Bits() has taken from the byte at the cursor
#if NET
        IntPtr raw;           // the C reader, for the fast path
        int busy, closing;    // a fast call runs; Dispose has begun
#endif

        public Reader(byte[] data, Endian order = Endian.Big)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            GCHandle pin = Checks.Pin(data);
            try
            {
                this.data = pin.AddrOfPinnedObject();
                h = Native.tavbin_open(this.data, (ulong)data.LongLength, (uint)order);
            }
            catch
            {
                Unpin(pin);
                throw;
            }
            if (h.IsInvalid)
            {
                h.Dispose();
                Unpin(pin);
                throw Library.OpenFailed(order);
            }
            h.Own(pin);
            this.order = order;
#if NET
            raw = h.DangerousGetHandle();
#endif
        }

#if NET
        /// <summary>A reader over memory of any kind (array, native, pooled): it stays
        /// pinned while the reader lives.</summary>
        public unsafe Reader(ReadOnlyMemory<byte> data, Endian order = Endian.Big)
        {
            // An empty memory may have no address; the module wants one.
            if (data.IsEmpty)
                data = new ReadOnlyMemory<byte>(OneByte, 0, 0);
            MemoryHandle pin = data.Pin();
            try
            {
                this.data = (IntPtr)pin.Pointer;
                h = Native.tavbin_open(this.data, (ulong)data.Length, (uint)order);
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
                throw Library.OpenFailed(order);
            }
            h.Own(pin);
            this.order = order;
#if NET
            raw = h.DangerousGetHandle();
#endif
        }

        static readonly byte[] OneByte = new byte[1];
#endif

        Reader(ReaderHandle h, IntPtr data, Endian order)
        {
            this.h = h;
            this.data = data;
            this.order = order;
#if NET
            raw = h.DangerousGetHandle();
#endif
        }

        /// <summary>Closes the reader and lets go of its bytes (once no reader cut from
        /// it holds them); later calls throw ObjectDisposedException. Calling it again
        /// does nothing.</summary>
        public void Dispose()
        {
#if NET
            // A fast call running on another thread releases the handle as it ends.
            Volatile.Write(ref closing, 1);
            Interlocked.MemoryBarrierProcessWide();
            if (Volatile.Read(ref busy) != 0)
                return;
#endif
            h.Dispose();
        }

#if NET
        // The fixed-width reads call the module on the raw pointer, without the two
        // interlocked operations of a SafeHandle's reference count, which cost more
        // than the read. A Dispose on another thread still never frees the reader
        // under such a call: the call marks itself busy and then looks for a Dispose;
        // Dispose marks itself, then flushes every core's pending writes (a
        // process-wide barrier, so that neither side can miss the other's mark) and
        // leaves the release to a busy call, which does it as it ends. Either side may
        // then release; the SafeHandle releases once.
        bool Enter()
        {
            busy = 1;
            if (Volatile.Read(ref closing) == 0)
                return true;
            // Disposed: a Dispose that saw this mark left the release to this call.
            Leave();
            return false;
        }

        void Leave()
        {
            Volatile.Write(ref busy, 0);
            if (Volatile.Read(ref closing) != 0)
                h.Dispose();
        }
#endif

        ReaderHandle H => Live(h, nameof(Reader));

        internal bool Closed => h.IsClosed;

        /// <summary>Length of the input.</summary>
        public ulong Size => Native.tavbin_size(H);

        /// <summary>Status recorded by the last call that records one.</summary>
        public Status LastError => (Status)Native.tavbin_last_error(H);

        /// <summary>Byte offset of the cursor; a partly read byte counts as not read.</summary>
        public ulong Tell() => Native.tavbin_tell(H);

        /// <summary>Bytes from the cursor to the end, the bit position ignored.</summary>
        public ulong Remaining() => Native.tavbin_remaining(H);

        /// <summary>Moves to an absolute offset (0 to Size) and ends any partly read byte.</summary>
        public void Seek(ulong offset)
        {
            ReaderHandle r = H;
            int s = Native.tavbin_seek(r, offset);
            if (s != 0)
                throw Failed(r, s);
            bitPos = 0;
        }

        /// <summary>Skips the rest of a partly read byte, if any.</summary>
        public void BitAlign()
        {
            Native.tavbin_bit_align(H);
            bitPos = 0;
        }

        public void SetEndian(Endian order)
        {
            ReaderHandle r = H;
            int s = Native.tavbin_set_endian(r, (uint)order);
            if (s != 0)
                throw Failed(r, s);
            this.order = order;
        }

        // Where a call begins, when a partly read byte makes it differ from where a
        // failed call leaves the cursor (every byte-level read first moves past such a
        // byte); Unmarked otherwise, the common case, at the cost of a field test.
        ulong Mark(ReaderHandle r) => bitPos == 0 ? Unmarked : Native.tavbin_tell(r);

        // After a call that failed or began inside a byte: the partly read byte is
        // forgotten once the call moved past it, and a failure throws with the offset
        // where the call began.
        void Settle(ReaderHandle r, int status, ulong mark)
        {
            if (mark != Unmarked && Native.tavbin_tell(r) != mark)
                bitPos = 0;
            if (status != 0)
                throw new TavbinException((Status)status, mark != Unmarked ? mark : Native.tavbin_tell(r));
        }

        // A failed call that never moves the cursor.
        static TavbinException Failed(ReaderHandle r, int status) =>
            new TavbinException((Status)status, Native.tavbin_tell(r));

        public byte U8()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.u8(raw, out byte value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_u8(r, out byte v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public sbyte I8()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.i8(raw, out sbyte value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_i8(r, out sbyte v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public ushort U16()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.u16(raw, out ushort value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_u16(r, out ushort v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public short I16()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.i16(raw, out short value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_i16(r, out short v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public uint U32()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.u32(raw, out uint value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_u32(r, out uint v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public int I32()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.i32(raw, out int value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_i32(r, out int v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public float F32()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.f32(raw, out float value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_f32(r, out float v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public ulong U64()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.u64(raw, out ulong value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_u64(r, out ulong v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public long I64()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.i64(raw, out long value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_i64(r, out long v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }

        public double F64()
        {
#if NET
            if (bitPos == 0 && Enter())
            {
                int status = Native.Raw.f64(raw, out double value);
                Leave();
                if (status != 0)
                    throw Failed(H, status);
                return value;
            }
#endif
            ReaderHandle r = H; ulong m = Mark(r); int s = Native.tavbin_f64(r, out double v); if ((s | (int)bitPos) != 0) Settle(r, s, m); return v;
        }


        /// <summary>A 24-bit unsigned integer in the reader's byte order.</summary>
        public uint U24()
        {
            byte[] b = Bytes(3);
            return order == Endian.Big ? (uint)(b[0] << 16 | b[1] << 8 | b[2]) : (uint)(b[2] << 16 | b[1] << 8 | b[0]);
        }

        /// <summary>A 24-bit two's complement integer in the reader's byte order.</summary>
        public int I24() => (int)(U24() << 8) >> 8;

        /// <summary>A bit field of 1 to 64 bits, most significant bit first.</summary>
        public ulong Bits(uint count)
        {
            ReaderHandle r = H;
            ulong at = Native.tavbin_tell(r);
            int s = Native.tavbin_bits(r, count, out ulong v);
            if (s != 0)
            {
                // Running out consumes every remaining bit, the last byte included.
                if (s == (int)Status.Eof)
                    bitPos = 0;
                throw new TavbinException((Status)s, at);
            }
            bitPos = (bitPos + count) & 7;
            return v;
        }

        /// <summary>An unsigned LEB128 number of at most maxBytes bytes (above 10 acts as 10).</summary>
        public ulong Leb128(ulong maxBytes = 10)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            int s = Native.tavbin_leb128(r, out ulong v, maxBytes);
            if ((s | (int)bitPos) != 0)
                Settle(r, s, m);
            return v;
        }

        public void Skip(ulong n)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            int s = Native.tavbin_skip(r, n);
            if ((s | (int)bitPos) != 0)
                Settle(r, s, m);
        }

        /// <summary>The next n bytes.</summary>
        public byte[] Bytes(ulong n) => Block(n, false);

        /// <summary>The next n characters of a fixed-length field, as bytes, unchanged.</summary>
        public byte[] Ascii(ulong n) => Block(n, true);

        byte[] Block(ulong n, bool ascii)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            // More than remains cannot succeed, and the C call then fails on its length
            // test without touching dst: a token buffer lets it say so, where n bytes
            // could be more than any array holds.
            byte[] dst = new byte[n <= Native.tavbin_remaining(r) ? n : 1];
            GCHandle pin = Checks.Pin(dst);
            int s;
            try
            {
                IntPtr p = pin.AddrOfPinnedObject();
                s = ascii ? Native.tavbin_ascii(r, p, n) : Native.tavbin_bytes(r, p, n);
            }
            finally
            {
                Unpin(pin);
            }
            if ((s | (int)bitPos) != 0)
                Settle(r, s, m);
            return dst;
        }

        /// <summary>A string stored as a 32-bit byte count and that many bytes, in an array
        /// of exactly that size (no terminator). TavbinException: TooLarge if the count
        /// exceeds maxLen, Eof if the data ends first; the cursor is then as it was.</summary>
        public byte[] StringU32(ulong maxLen = uint.MaxValue)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
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
            int s;
            GCHandle pin = Checks.Pin(dst);
            try
            {
                s = Native.tavbin_string_u32(r, pin.AddrOfPinnedObject(), cap, maxLen, out got);
            }
            finally
            {
                Unpin(pin);
            }
            if ((s | (int)bitPos) != 0)
                Settle(r, s, m);
            byte[] str = new byte[got];
            Buffer.BlockCopy(dst, 0, str, 0, (int)got);
            return str;
        }

        public byte PeekU8() { ReaderHandle r = H; int s = Native.tavbin_peek_u8(r, out byte v); if (s != 0) throw Failed(r, s); return v; }
        public ushort PeekU16() { ReaderHandle r = H; int s = Native.tavbin_peek_u16(r, out ushort v); if (s != 0) throw Failed(r, s); return v; }
        public uint PeekU32() { ReaderHandle r = H; int s = Native.tavbin_peek_u32(r, out uint v); if (s != 0) throw Failed(r, s); return v; }
        public ulong PeekU64() { ReaderHandle r = H; int s = Native.tavbin_peek_u64(r, out ulong v); if (s != 0) throw Failed(r, s); return v; }

        /// <summary>The value at an absolute offset; the cursor is not touched.</summary>
        public byte U8At(ulong offset) { ReaderHandle r = H; int s = Native.tavbin_u8_at(r, offset, out byte v); if (s != 0) throw Failed(r, s); return v; }
        public ushort U16At(ulong offset) { ReaderHandle r = H; int s = Native.tavbin_u16_at(r, offset, out ushort v); if (s != 0) throw Failed(r, s); return v; }
        public uint U32At(ulong offset) { ReaderHandle r = H; int s = Native.tavbin_u32_at(r, offset, out uint v); if (s != 0) throw Failed(r, s); return v; }
        public ulong U64At(ulong offset) { ReaderHandle r = H; int s = Native.tavbin_u64_at(r, offset, out ulong v); if (s != 0) throw Failed(r, s); return v; }

        // --- The record layer -------------------------------------------------------

        // The reads below look at the input itself (the C reader does not hand its
        // bytes out): each holds the handle, and so the pinned bytes, while it does.

        byte ByteAt(ulong offset) => Marshal.ReadByte(new IntPtr(data.ToInt64() + (long)offset));

        /// <summary>A signed LEB128 number, as DWARF and WebAssembly write them; longer
        /// forms than needed are accepted, a value outside long is refused.
        /// TavbinException: InvalidArg if maxBytes is 0, if ten bytes all carry bit 7,
        /// or if the tenth byte is neither 0x00 nor 0x7F; Eof if the data or maxBytes
        /// (below 10) ends first. The cursor is then where the number began.</summary>
        public long Sleb128(ulong maxBytes = 10)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            bool held = false;
            try
            {
                r.DangerousAddRef(ref held);
                if (maxBytes != 0)
                {
                    Native.tavbin_bit_align(r);
                    bitPos = 0;
                }
                ulong start = Native.tavbin_tell(r);
                ulong at = m != Unmarked ? m : start;
                int s = Native.tavbin_leb128(r, out ulong v, maxBytes);
                if (s != 0)
                    throw new TavbinException((Status)s, at);
                ulong n = Native.tavbin_tell(r) - start; // 1 to 10
                byte last = ByteAt(start + n - 1);
                if (n == 10 && last != 0x00 && last != 0x7F)
                {
                    // Back where the number began; a zero-byte read records the refusal
                    // without moving anything.
                    Native.tavbin_seek(r, start);
                    Native.tavbin_leb128(r, out v, 0);
                    throw new TavbinException(Status.InvalidArg, at);
                }
                if (n < 10 && (last & 0x40) != 0)
                    v |= ulong.MaxValue << (int)(7 * n);
                return (long)v;
            }
            finally
            {
                if (held)
                    r.DangerousRelease();
            }
        }

        /// <summary>A NUL-terminated string: the bytes before the next NUL (copied, NUL
        /// not included), consumed together with the NUL. Looks at no more than
        /// maxLen + 1 bytes. TavbinException: TooLarge if those hold no NUL (not
        /// recorded), Eof if the data ends first without one; the cursor does not move
        /// then (past a partly read byte, which stays skipped).</summary>
        public byte[] CString(ulong maxLen)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            bool held = false;
            try
            {
                r.DangerousAddRef(ref held);
                Native.tavbin_bit_align(r);
                bitPos = 0;
                ulong pos = Native.tavbin_tell(r), rem = Native.tavbin_remaining(r);
                ulong at = m != Unmarked ? m : pos;
                ulong window = maxLen < rem ? maxLen + 1 : rem;
                long nul = IndexOfNul(pos, window);
                if (nul < 0)
                {
                    if (maxLen < rem)
                        throw new TavbinException(Status.TooLarge, at);
                    throw new TavbinException((Status)Native.tavbin_skip(r, rem + 1), at); // records Eof, moves nothing
                }
                byte[] str = new byte[nul];
                if (nul != 0)
                    Marshal.Copy(new IntPtr(data.ToInt64() + (long)pos), str, 0, str.Length);
                Native.tavbin_skip(r, (ulong)nul + 1);
                return str;
            }
            finally
            {
                if (held)
                    r.DangerousRelease();
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
        /// byte order, its cursor at 0, so that a bad length inside a record cannot
        /// reach beyond it; this reader moves past the n bytes. It holds this reader's
        /// bytes until it is disposed itself. TavbinException: Eof if fewer than n
        /// bytes remain (nothing moves, past a partly read byte).</summary>
        public Reader Sub(ulong n)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            bool held = false;
            try
            {
                r.DangerousAddRef(ref held);
                Native.tavbin_bit_align(r);
                bitPos = 0;
                ulong pos = Native.tavbin_tell(r);
                ulong at = m != Unmarked ? m : pos;
                if (Native.tavbin_remaining(r) < n)
                    throw new TavbinException((Status)Native.tavbin_skip(r, n), at); // records Eof, moves nothing
                // Opened before this one moves, so that running out of memory moves nothing.
                IntPtr first = new IntPtr(data.ToInt64() + (long)pos);
                ReaderHandle sub = Native.tavbin_open(first, n, (uint)order);
                if (sub.IsInvalid)
                {
                    sub.Dispose();
                    throw new TavbinException(Status.Oom, at);
                }
                sub.Own(r);
                Native.tavbin_skip(r, n);
                return new Reader(sub, first, order);
            }
            finally
            {
                if (held)
                    r.DangerousRelease();
            }
        }

        /// <summary>Starts reading bit fields least significant bit first (DEFLATE's
        /// order) at the next whole byte. The reader does not move until the result's
        /// Done (or Dispose) moves it past every byte a bit was taken from; read nothing
        /// else from it meanwhile.</summary>
        public LsbBitReader LsbBits()
        {
            ReaderHandle r = H;
            return new LsbBitReader(this, Native.tavbin_tell(r) + (bitPos != 0 ? 1u : 0u));
        }

        // count bits from bit position pos after byte start, least significant first;
        // the caller has checked that they are there.
        internal ulong LsbTake(ulong start, ulong pos, int count)
        {
            ReaderHandle r = H;
            bool held = false;
            try
            {
                r.DangerousAddRef(ref held);
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
                if (held)
                    r.DangerousRelease();
            }
        }

        // --- Bulk values ------------------------------------------------------------

        bool Swapped => (order == Endian.Little) != BitConverter.IsLittleEndian;

        /// <summary>Fills values with values.Length values of T (byte, sbyte, ushort,
        /// short, uint, int, ulong, long, float or double) in the reader's byte order,
        /// in one block read: all or nothing. ArgumentException for another T.</summary>
        public void Array<T>(T[] values) where T : struct
        {
            if (values == null)
                throw new ArgumentNullException(nameof(values));
#if NET
            Array(values.AsSpan());
#else
            int width = Bulk.Width<T>();
            ReaderHandle r = H;
            ulong m = Mark(r);
            GCHandle pin = Checks.Pin(values);
            try
            {
                IntPtr p = pin.AddrOfPinnedObject();
                int s = Native.tavbin_bytes(r, p, (ulong)values.LongLength * (ulong)width);
                if ((s | (int)bitPos) != 0)
                    Settle(r, s, m);
                if (Swapped)
                    Bulk.Reverse(p, values.LongLength, width);
            }
            finally
            {
                Unpin(pin);
            }
#endif
        }

#if NET
        /// <summary>Fills values, as <see cref="Array{T}(T[])"/> does.</summary>
        public unsafe void Array<T>(Span<T> values) where T : struct
        {
            int width = Bulk.Width<T>();
            Span<byte> bytes = MemoryMarshal.AsBytes(values);
            ReaderHandle r = H;
            ulong m = Mark(r);
            int s;
            fixed (byte* p = bytes)
                s = Native.tavbin_bytes(r, (IntPtr)p, (ulong)bytes.Length);
            if ((s | (int)bitPos) != 0)
                Settle(r, s, m);
            if (Swapped)
                Bulk.Reverse(bytes, width);
        }

        /// <summary>Fills dst with the next dst.Length bytes: all or nothing.</summary>
        public unsafe void Bytes(Span<byte> dst)
        {
            ReaderHandle r = H;
            ulong m = Mark(r);
            int s;
            fixed (byte* p = dst)
                s = Native.tavbin_bytes(r, (IntPtr)p, (ulong)dst.Length);
            if ((s | (int)bitPos) != 0)
                Settle(r, s, m);
        }
#endif
    }

    /// <summary>Bit fields read least significant bit first, from <see cref="Reader.LsbBits"/>.
    /// Dispose does what Done does.</summary>
    public sealed class LsbBitReader : IDisposable
    {
        readonly Reader reader;
        readonly ulong start; // the byte of the first bit
        ulong pos;            // bits taken since
        bool done;

        internal LsbBitReader(Reader reader, ulong start)
        {
            this.reader = reader;
            this.start = start;
        }

        /// <summary>count bits (1 to 64), least significant first. TavbinException:
        /// InvalidArg for another count or after Done, Eof if fewer bits remain; nothing
        /// is taken then,
        /// and the exception's Offset is the byte the first bit would have come from.</summary>
        public ulong Read(int count)
        {
            ulong at = start + pos / 8;
            if (done || count < 1 || count > 64)
                throw new TavbinException(Status.InvalidArg, at);
            ulong size = reader.Size;
            ulong left = size > start ? (size - start) * 8 - pos : 0;
            if ((ulong)count > left)
                throw new TavbinException(Status.Eof, at);
            ulong v = reader.LsbTake(start, pos, count);
            pos += (ulong)count;
            return v;
        }

        /// <summary>Drops the rest of a partly read byte.</summary>
        public void Align()
        {
            if (!done)
                pos = (pos + 7) & ~7UL;
        }

        /// <summary>Moves the reader past every byte a bit was taken from (with none
        /// taken, the reader stays as it was, a partly read byte included); later reads
        /// here throw TavbinException (InvalidArg). Calling it again does nothing.</summary>
        public void Done()
        {
            if (done)
                return;
            done = true;
            if (pos != 0)
                reader.Skip((pos + 7) / 8); // first past a partly read byte, where start is
        }

        public void Dispose()
        {
            if (!done && !reader.Closed)
                Done();
            done = true;
        }
    }

    // The element types of Reader.Array and Writer.Array, and their byte swap.
    static class Bulk
    {
        static class Of<T>
        {
            internal static readonly int Width =
                typeof(T) == typeof(byte) || typeof(T) == typeof(sbyte) ? 1 :
                typeof(T) == typeof(ushort) || typeof(T) == typeof(short) ? 2 :
                typeof(T) == typeof(uint) || typeof(T) == typeof(int) || typeof(T) == typeof(float) ? 4 :
                typeof(T) == typeof(ulong) || typeof(T) == typeof(long) || typeof(T) == typeof(double) ? 8 : 0;
        }

        internal static int Width<T>()
        {
            int w = Of<T>.Width;
            if (w == 0)
                throw new ArgumentException("values of " + typeof(T).Name + " have no encoding here; " +
                                            "use byte, sbyte, ushort, short, uint, int, ulong, long, float or double");
            return w;
        }

        // Reverses the bytes of each of count values of width bytes at p.
        internal static void Reverse(IntPtr p, long count, int width)
        {
            long a = p.ToInt64();
            for (long i = 0; i < count; i++)
            {
                IntPtr at = new IntPtr(a + i * width);
                switch (width)
                {
                    case 2:
                        ushort u16 = (ushort)Marshal.ReadInt16(at);
                        Marshal.WriteInt16(at, (short)(u16 >> 8 | u16 << 8));
                        break;
                    case 4:
                        uint u32 = (uint)Marshal.ReadInt32(at);
                        Marshal.WriteInt32(at, (int)Swap32(u32));
                        break;
                    case 8:
                        ulong u64 = (ulong)Marshal.ReadInt64(at);
                        Marshal.WriteInt64(at, (long)((ulong)Swap32((uint)u64) << 32 | Swap32((uint)(u64 >> 32))));
                        break;
                }
            }
        }

        static uint Swap32(uint v) => v >> 24 | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | v << 24;

#if NET
        internal static void Reverse(Span<byte> bytes, int width)
        {
            switch (width)
            {
                case 2:
                    Span<ushort> u16 = MemoryMarshal.Cast<byte, ushort>(bytes);
                    BinaryPrimitives.ReverseEndianness(u16, u16);
                    break;
                case 4:
                    Span<uint> u32 = MemoryMarshal.Cast<byte, uint>(bytes);
                    BinaryPrimitives.ReverseEndianness(u32, u32);
                    break;
                case 8:
                    Span<ulong> u64 = MemoryMarshal.Cast<byte, ulong>(bytes);
                    BinaryPrimitives.ReverseEndianness(u64, u64);
                    break;
            }
        }
#endif
    }

    /// <summary>A growing buffer of encoded values, owned by the module until disposed.
    /// Each append throws TavbinException on failure and then leaves the bytes as they were.</summary>
    public sealed class Writer : IDisposable
    {
        readonly WriterHandle h;
        Endian order; // for patches and arrays: the C writer does not tell it

        /// <summary>initialCap: bytes to allocate at first, 0 meaning 64.</summary>
        public Writer(ulong initialCap = 0, Endian order = Endian.Big)
        {
            h = Native.tavbinw_open(initialCap, (uint)order);
            if (h.IsInvalid)
            {
                h.Dispose();
                throw Library.OpenFailed(order);
            }
            h.Opened();
            this.order = order;
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

        // A failed append leaves the length as it was: that is where it began.
        static TavbinException Failed(WriterHandle w, int status) =>
            new TavbinException((Status)status, Native.tavbinw_len(w));

        public void SetEndian(Endian order)
        {
            WriterHandle w = H;
            int s = Native.tavbinw_set_endian(w, (uint)order);
            if (s != 0)
                throw Failed(w, s);
            this.order = order;
        }

        public void U8(byte value) { WriterHandle w = H; int s = Native.tavbinw_u8(w, value); if (s != 0) throw Failed(w, s); }
        public void U16(ushort value) { WriterHandle w = H; int s = Native.tavbinw_u16(w, value); if (s != 0) throw Failed(w, s); }
        public void I16(short value) { WriterHandle w = H; int s = Native.tavbinw_i16(w, value); if (s != 0) throw Failed(w, s); }
        public void U32(uint value) { WriterHandle w = H; int s = Native.tavbinw_u32(w, value); if (s != 0) throw Failed(w, s); }
        public void I32(int value) { WriterHandle w = H; int s = Native.tavbinw_i32(w, value); if (s != 0) throw Failed(w, s); }
        public void F32(float value) { WriterHandle w = H; int s = Native.tavbinw_f32(w, value); if (s != 0) throw Failed(w, s); }
        public void U64(ulong value) { WriterHandle w = H; int s = Native.tavbinw_u64(w, value); if (s != 0) throw Failed(w, s); }
        public void I64(long value) { WriterHandle w = H; int s = Native.tavbinw_i64(w, value); if (s != 0) throw Failed(w, s); }
        public void F64(double value) { WriterHandle w = H; int s = Native.tavbinw_f64(w, value); if (s != 0) throw Failed(w, s); }

        /// <summary>An unsigned LEB128 number in its shortest form.</summary>
        public void Leb128(ulong value) { WriterHandle w = H; int s = Native.tavbinw_leb128(w, value); if (s != 0) throw Failed(w, s); }

        public void Bytes(byte[] data) => Append(data, data == null ? 0 : data.Length, false);

        /// <summary>A 32-bit byte count, then the bytes.</summary>
        public void StringU32(byte[] data) => Append(data, data == null ? 0 : data.Length, true);

        void Append(byte[] data, int n, bool counted)
        {
            if (data == null)
                throw new ArgumentNullException(nameof(data));
            WriterHandle w = H;
            GCHandle pin = Checks.Pin(data);
            int s;
            try
            {
                IntPtr p = pin.AddrOfPinnedObject();
                s = counted ? Native.tavbinw_string_u32(w, p, (ulong)n) : Native.tavbinw_bytes(w, p, (ulong)n);
            }
            finally
            {
                Unpin(pin);
            }
            if (s != 0)
                throw Failed(w, s);
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
            Append(buf, n, false);
        }

        /// <summary>A 24-bit unsigned value in the writer's byte order. TavbinException:
        /// Range if it is above 0xFFFFFF (nothing appended).</summary>
        public void U24(uint value)
        {
            if (value > 0xFFFFFF)
                throw new TavbinException(Status.Range, Length);
            Append24(value);
        }

        /// <summary>A 24-bit two's complement value in the writer's byte order.
        /// TavbinException: Range outside -8388608 to 8388607 (nothing appended).</summary>
        public void I24(int value)
        {
            if (value < -0x800000 || value > 0x7FFFFF)
                throw new TavbinException(Status.Range, Length);
            Append24((uint)value & 0xFFFFFF);
        }

        void Append24(uint v)
        {
            byte[] b = order == Endian.Big
                ? new[] { (byte)(v >> 16), (byte)(v >> 8), (byte)v }
                : new[] { (byte)v, (byte)(v >> 8), (byte)(v >> 16) };
            Append(b, 3, false);
        }

        /// <summary>Overwrites a 16-bit value already written, in the writer's byte
        /// order, at offset from the start (PatchU32, PatchU64: 32, 64 bits): a length
        /// or checksum known only after what follows it. TavbinException: Range if the
        /// value does not lie wholly inside the written bytes (nothing is written; the
        /// exception's Offset is the offset given). Not recorded in LastError.</summary>
        public void PatchU16(ulong offset, ushort value) => Patch(offset, 2, value);
        public void PatchU32(ulong offset, uint value) => Patch(offset, 4, value);
        public void PatchU64(ulong offset, ulong value) => Patch(offset, 8, value);

        void Patch(ulong offset, int width, ulong value)
        {
            WriterHandle w = H;
            bool held = false;
            try
            {
                // The buffer is the module's: held open even against a Dispose on
                // another thread.
                w.DangerousAddRef(ref held);
                ulong len = Native.tavbinw_len(w);
                if (offset > len || len - offset < (ulong)width)
                    throw new TavbinException(Status.Range, offset);
                IntPtr at = new IntPtr(Native.tavbinw_data(w).ToInt64() + (long)offset);
                ulong room = len - offset;
                int s = width == 2 ? Native.tavbin_store_u16(at, room, (uint)order, (ushort)value)
                      : width == 4 ? Native.tavbin_store_u32(at, room, (uint)order, (uint)value)
                      : Native.tavbin_store_u64(at, room, (uint)order, value);
                Check(s, offset);
            }
            finally
            {
                if (held)
                    w.DangerousRelease();
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
                finally { Unpin(pin); }
            }
            Append(bytes, bytes.Length, false);
#endif
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

#if NET
        /// <summary>Appends the values, as <see cref="Array{T}(T[])"/> does.</summary>
        public unsafe void Array<T>(ReadOnlySpan<T> values) where T : struct
        {
            int width = Bulk.Width<T>();
            ReadOnlySpan<byte> bytes = MemoryMarshal.AsBytes(values);
            if (!Swapped || width == 1)
            {
                Bytes(bytes);
                return;
            }
            byte[] rented = ArrayPool<byte>.Shared.Rent(bytes.Length);
            try
            {
                Span<byte> swapped = rented.AsSpan(0, bytes.Length);
                bytes.CopyTo(swapped);
                Bulk.Reverse(swapped, width);
                Bytes(swapped);
            }
            finally
            {
                ArrayPool<byte>.Shared.Return(rented);
            }
        }

        /// <summary>Appends the bytes: all or nothing.</summary>
        public unsafe void Bytes(ReadOnlySpan<byte> data)
        {
            WriterHandle w = H;
            int s;
            fixed (byte* p = data)
                s = Native.tavbinw_bytes(w, (IntPtr)p, (ulong)data.Length);
            if (s != 0)
                throw Failed(w, s);
        }

        /// <summary>The bytes written so far, in the module's buffer: valid until the next
        /// append (which may move the buffer) or Dispose. Copy them out to keep them.</summary>
        public unsafe ReadOnlySpan<byte> WrittenSpan
        {
            get
            {
                WriterHandle w = H;
                ulong n = Native.tavbinw_len(w);
                if (n > int.MaxValue)
                    throw new InvalidOperationException("the writer holds more bytes than a span can");
                return new ReadOnlySpan<byte>((void*)Native.tavbinw_data(w), (int)n);
            }
        }
#endif
    }

    /// <summary>The status texts, loads and stores of unsigned values, and the zigzag
    /// mapping of signed values.</summary>
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

        /// <summary>Maps a signed value to an unsigned one so that small magnitudes of
        /// either sign stay small (0, -1, 1, -2 become 0, 1, 2, 3): protobuf's sint
        /// encoding, to be written with Writer.Leb128.</summary>
        public static ulong ZigzagEncode(long value) => (ulong)(value << 1) ^ (ulong)(value >> 63);

        /// <summary>The inverse of ZigzagEncode, for a value read with Reader.Leb128.</summary>
        public static long ZigzagDecode(ulong value) => (long)(value >> 1) ^ -(long)(value & 1);

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
            GCHandle pin = Checks.Pin(data);
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
            try { Check(Native.tavbin_load_u16(at, avail, (uint)order, out ushort v), (ulong)offset); return v; }
            finally { Unpin(pin); }
        }

        public static uint LoadU32(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(Native.tavbin_load_u32(at, avail, (uint)order, out uint v), (ulong)offset); return v; }
            finally { Unpin(pin); }
        }

        public static ulong LoadU64(byte[] data, int offset, Endian order)
        {
            GCHandle pin = Pin(data, offset, out IntPtr at, out ulong avail);
            try { Check(Native.tavbin_load_u64(at, avail, (uint)order, out ulong v), (ulong)offset); return v; }
            finally { Unpin(pin); }
        }

        /// <summary>Stores the 2 bytes of value at buffer[offset] (StoreU32, StoreU64: 4, 8).
        /// TavbinException: Range if fewer bytes are there, an offset past the end
        /// included (nothing is written); InvalidArg for a byte order that is not one.
        /// ArgumentOutOfRangeException for a negative offset.</summary>
        public static void StoreU16(byte[] buffer, int offset, ushort value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(Native.tavbin_store_u16(at, cap, (uint)order, value), (ulong)offset); }
            finally { Unpin(pin); }
        }

        public static void StoreU32(byte[] buffer, int offset, uint value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(Native.tavbin_store_u32(at, cap, (uint)order, value), (ulong)offset); }
            finally { Unpin(pin); }
        }

        public static void StoreU64(byte[] buffer, int offset, ulong value, Endian order)
        {
            GCHandle pin = Pin(buffer, offset, out IntPtr at, out ulong cap);
            try { Check(Native.tavbin_store_u64(at, cap, (uint)order, value), (ulong)offset); }
            finally { Unpin(pin); }
        }

#if NET
        // The span versions: the value at the start of data, or stored at the start of
        // buffer. The C calls never see a null pointer: an empty span gets a byte to
        // point at, with no bytes available.
        static readonly byte[] Nothing = new byte[1];

        /// <summary>The 2-byte value at the start of data (LoadU32, LoadU64: 4, 8 bytes).
        /// TavbinException: Eof if fewer bytes are there; InvalidArg for a byte order that
        /// is not one.</summary>
        public static unsafe ushort LoadU16(ReadOnlySpan<byte> data, Endian order)
        {
            fixed (byte* p = data.IsEmpty ? Nothing : data)
            {
                Check(Native.tavbin_load_u16((IntPtr)p, (ulong)data.Length, (uint)order, out ushort v), 0);
                return v;
            }
        }

        public static unsafe uint LoadU32(ReadOnlySpan<byte> data, Endian order)
        {
            fixed (byte* p = data.IsEmpty ? Nothing : data)
            {
                Check(Native.tavbin_load_u32((IntPtr)p, (ulong)data.Length, (uint)order, out uint v), 0);
                return v;
            }
        }

        public static unsafe ulong LoadU64(ReadOnlySpan<byte> data, Endian order)
        {
            fixed (byte* p = data.IsEmpty ? Nothing : data)
            {
                Check(Native.tavbin_load_u64((IntPtr)p, (ulong)data.Length, (uint)order, out ulong v), 0);
                return v;
            }
        }

        /// <summary>Stores the 2 bytes of value at the start of buffer (StoreU32, StoreU64:
        /// 4, 8). TavbinException: Range if fewer bytes are there (nothing is written);
        /// InvalidArg for a byte order that is not one.</summary>
        public static unsafe void StoreU16(Span<byte> buffer, ushort value, Endian order)
        {
            fixed (byte* p = buffer.IsEmpty ? Nothing : buffer)
                Check(Native.tavbin_store_u16((IntPtr)p, (ulong)buffer.Length, (uint)order, value), 0);
        }

        public static unsafe void StoreU32(Span<byte> buffer, uint value, Endian order)
        {
            fixed (byte* p = buffer.IsEmpty ? Nothing : buffer)
                Check(Native.tavbin_store_u32((IntPtr)p, (ulong)buffer.Length, (uint)order, value), 0);
        }

        public static unsafe void StoreU64(Span<byte> buffer, ulong value, Endian order)
        {
            fixed (byte* p = buffer.IsEmpty ? Nothing : buffer)
                Check(Native.tavbin_store_u64((IntPtr)p, (ulong)buffer.Length, (uint)order, value), 0);
        }
#endif
    }
}
