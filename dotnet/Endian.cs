// Endian.cs - a byte order
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

namespace Tavbin
{
    /// <summary>A byte order; the values are the C codes.</summary>
    public enum Endian : uint
    {
        /// <summary>Most significant byte at the lowest address.</summary>
        Big = 0,
        /// <summary>Least significant byte at the lowest address.</summary>
        Little = 1,
    }
}
