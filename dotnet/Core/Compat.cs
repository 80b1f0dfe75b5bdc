// Compat.cs - what the C# 7 builds (Mono's mcs, netstandard2.0) lack from newer .NET
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

#if !NET
namespace System.Runtime.InteropServices
{
    // .NET 5's attribute, so that NativeMethods.cs is one list on every build; the
    // runtimes without it take it for any other attribute and call as usual.
    [AttributeUsage(AttributeTargets.Method, Inherited = false)]
    sealed class SuppressGCTransitionAttribute : Attribute
    {
    }
}
#endif
