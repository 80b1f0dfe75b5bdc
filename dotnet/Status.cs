// Status.cs - the status of a call
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

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
}
