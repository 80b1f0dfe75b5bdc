// Assembly.cs - the assembly's attributes
//
// Copyright (c) 2026 The binary-read-util authors. MIT License, see LICENSE.

using System.Runtime.CompilerServices;

[assembly: InternalsVisibleTo("TavbinTests")]
