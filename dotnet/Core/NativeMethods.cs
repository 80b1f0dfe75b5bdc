// NativeMethods.cs - the module's 58 functions, declared once
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.
//
// This list is the binding's only declaration of the C interface, compiled as it is
// by every build (Mono's mcs, netstandard2.0, net8.0); DeclarationsTest holds each
// entry to tavbin.h as abi/declarations.py reads it. The types: uint64_t is ulong,
// statuses are int, byte orders uint, data pointers IntPtr, outputs out. A handle
// passed in is its raw pointer: Reader and Writer guard every call themselves
// (Core/Guard.cs), so the pointer cannot be freed under it; an open returns its
// SafeHandle, which alone closes it. tavbin_strerror's text is static: read it with
// Marshal.PtrToStringAnsi and never free it.
//
// SuppressGCTransition marks the calls that never allocate, block or copy more than
// a few bytes: .NET skips the switch to preemptive mode for them. Mono and .NET
// Framework ignore the attribute (Core/Compat.cs gives it to their builds).

using System;
using System.Runtime.InteropServices;
using Tavbin.Core.Handles;

[assembly: DefaultDllImportSearchPaths(DllImportSearchPath.AssemblyDirectory | DllImportSearchPath.System32)]

namespace Tavbin.Core
{
    static partial class NativeMethods
    {
        internal const string Lib = "binary-read-util";
        // The module's file name as installed on Linux, where the loader's search by
        // Lib would want a libbinary-read-util.so that only development setups have.
        internal const string LinuxInstalledName = "libbinary-read-util.so.1";

        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern IntPtr tavbin_strerror(int status);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_load_u16(IntPtr src, ulong avail, uint endian, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_load_u32(IntPtr src, ulong avail, uint endian, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_load_u64(IntPtr src, ulong avail, uint endian, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_store_u16(IntPtr dst, ulong cap, uint endian, ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_store_u32(IntPtr dst, ulong cap, uint endian, uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_store_u64(IntPtr dst, ulong cap, uint endian, ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern ReaderHandle tavbin_open(IntPtr data, ulong size, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void tavbin_close(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_set_endian(IntPtr r, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_seek(IntPtr r, ulong offset);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern ulong tavbin_tell(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern ulong tavbin_remaining(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern ulong tavbin_size(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_last_error(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern void tavbin_bit_align(IntPtr r);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u8(IntPtr r, out byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_i8(IntPtr r, out sbyte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_bits(IntPtr r, uint count, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u16(IntPtr r, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_i16(IntPtr r, out short value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u32(IntPtr r, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_i32(IntPtr r, out int value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_f32(IntPtr r, out float value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u64(IntPtr r, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_i64(IntPtr r, out long value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_f64(IntPtr r, out double value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_bytes(IntPtr r, IntPtr dst, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_ascii(IntPtr r, IntPtr dst, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_skip(IntPtr r, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_peek_u8(IntPtr r, out byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_peek_u16(IntPtr r, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_peek_u32(IntPtr r, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_peek_u64(IntPtr r, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u8_at(IntPtr r, ulong offset, out byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u16_at(IntPtr r, ulong offset, out ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u32_at(IntPtr r, ulong offset, out uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_u64_at(IntPtr r, ulong offset, out ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbin_string_u32(IntPtr r, IntPtr dst, ulong dstCap, ulong maxLen, out ulong outLen);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbin_leb128(IntPtr r, out ulong value, ulong maxBytes);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern WriterHandle tavbinw_open(ulong initialCap, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern void tavbinw_close(IntPtr w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbinw_set_endian(IntPtr w, uint endian);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern IntPtr tavbinw_data(IntPtr w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern ulong tavbinw_len(IntPtr w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true), SuppressGCTransition]
        internal static extern int tavbinw_last_error(IntPtr w);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_bytes(IntPtr w, IntPtr src, ulong n);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u8(IntPtr w, byte value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u16(IntPtr w, ushort value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_i16(IntPtr w, short value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u32(IntPtr w, uint value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_i32(IntPtr w, int value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_f32(IntPtr w, float value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_u64(IntPtr w, ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_i64(IntPtr w, long value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_f64(IntPtr w, double value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_leb128(IntPtr w, ulong value);
        [DllImport(Lib, CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
        internal static extern int tavbinw_string_u32(IntPtr w, IntPtr src, ulong n);
    }
}
