// The PE export readers of PeExports.cs side by side:
//   dotnet run -c Release -- pe [--rounds N] [--limit N] DIR_OR_FILE...
//   dotnet run -c Release -- pe --show FILE     one DLL's exports, as both readers give them
// takes every *.dll under the paths, reads each with both readers, fails if any
// result differs (the same exports, or both refusing the file), then times both on
// each DLL, side by side, and prints the time per DLL of each and their ratio.
// --rounds 1 --limit 20 is the smoke run: it proves both agree and run, and
// measures nothing.
using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.IO;
using System.Linq;

public static class PeBench
{
    static string Outcome(Func<byte[], Exports> read, byte[] file)
    {
        try
        {
            Exports e = read(file);
            return e == null ? "no PE32+ export table" : e.ToString();
        }
        catch (Exception e) when (e is FormatException || e is Tavbin.TavbinException || e is ArgumentOutOfRangeException
                                  || e is OverflowException)
        {
            return "malformed";
        }
    }

    // One read of one file, in Stopwatch ticks; a refusal counts as a read.
    static long Once(Func<byte[], Exports> read, byte[] file)
    {
        long start = Stopwatch.GetTimestamp();
        try
        {
            GC.KeepAlive(read(file));
        }
        catch (Exception e) when (e is FormatException || e is Tavbin.TavbinException || e is ArgumentOutOfRangeException
                                  || e is OverflowException)
        {
        }
        return Stopwatch.GetTimestamp() - start;
    }

    static double Median(List<double> v)
    {
        var s = v.OrderBy(x => x).ToList();
        return s.Count % 2 == 1 ? s[s.Count / 2] : (s[s.Count / 2 - 1] + s[s.Count / 2]) / 2;
    }

    public static int Run(string[] args)
    {
        int rounds = 15, limit = int.MaxValue;
        var paths = new List<string>();
        for (int i = 0; i < args.Length; i++)
        {
            if (args[i] == "--rounds") rounds = int.Parse(args[++i]);
            else if (args[i] == "--limit") limit = int.Parse(args[++i]);
            else if (args[i] == "--show")
            {
                byte[] file = File.ReadAllBytes(args[++i]);
                Console.Write(Outcome(TavbinPe.Read, file));
                return Outcome(TavbinPe.Read, file) == Outcome(SpanPe.Read, file) ? 0 : 1;
            }
            else paths.Add(args[i]);
        }
        var names = paths.SelectMany(p => Directory.Exists(p)
                ? Directory.EnumerateFiles(p, "*.dll", SearchOption.AllDirectories) : new[] { p })
            .Where(File.Exists).Distinct().OrderBy(p => p, StringComparer.Ordinal).Take(limit).ToList();
        if (names.Count == 0)
        {
            Console.Error.WriteLine("no DLLs under " + string.Join(" ", paths));
            return 2;
        }
        var files = names.Select(File.ReadAllBytes).ToList();
        int withExports = 0, refused = 0, exports = 0;
        for (int i = 0; i < files.Count; i++)
        {
            string ours = Outcome(TavbinPe.Read, files[i]), theirs = Outcome(SpanPe.Read, files[i]);
            if (ours != theirs)
            {
                Console.Error.WriteLine($"{names[i]}: the readers differ\n--- over Tavbin:\n{ours}\n--- over BinaryPrimitives:\n{theirs}");
                return 1;
            }
            if (ours == "malformed") refused++;
            else if (ours != "no PE32+ export table") { withExports++; exports += ours.Count(c => c == '\n') - 1; }
        }
        Console.WriteLine($"{files.Count} DLLs ({files.Sum(f => (long)f.Length) / 1024} KiB): {withExports} PE32+ with " +
                          $"an export table, {exports} named exports; {refused} refused by both; both readers agree on every one");
        // Each DLL read by each reader in turn, which goes first alternating, `rounds`
        // times over the whole set; each DLL's time is its fastest read, the one least
        // disturbed by whatever else the machine runs (the first round, which warms
        // up the JIT, counts as well: a later one is faster). The file is then in the
        // cache: this is the cost of parsing, not of reading the disk.
        var tavbin = Enumerable.Repeat(long.MaxValue, files.Count).ToArray();
        var span = Enumerable.Repeat(long.MaxValue, files.Count).ToArray();
        var roundRatios = new List<double>();
        var roundTavbin = new List<double>();
        var roundSpan = new List<double>();
        for (int round = 0; round < rounds; round++)
        {
            long sumT = 0, sumS = 0;
            for (int i = 0; i < files.Count; i++)
            {
                long t, s;
                if ((round + i) % 2 == 0) { t = Once(TavbinPe.Read, files[i]); s = Once(SpanPe.Read, files[i]); }
                else { s = Once(SpanPe.Read, files[i]); t = Once(TavbinPe.Read, files[i]); }
                tavbin[i] = Math.Min(tavbin[i], t);
                span[i] = Math.Min(span[i], s);
                sumT += t;
                sumS += s;
            }
            roundTavbin.Add(sumT);
            roundSpan.Add(sumS);
            roundRatios.Add((double)sumT / sumS);
        }
        if (rounds < 3)
        {
            Console.WriteLine("pe: both readers ran (smoke run, nothing measured)");
            return 0;
        }
        double us = 1e6 / Stopwatch.Frequency;
        double overTavbin = tavbin.Sum() * us / files.Count, overSpan = span.Sum() * us / files.Count;
        var ratios = Enumerable.Range(0, files.Count).Select(i => (double)tavbin[i] / span[i]).ToList();
        Console.WriteLine($"per DLL, each DLL's fastest of {rounds} reads: over Tavbin {overTavbin:F1} us, over " +
                          $"BinaryPrimitives {overSpan:F1} us, ratio {overTavbin / overSpan:F2} (median of the DLLs' own " +
                          $"ratios {Median(ratios):F2})");
        // The whole set once a round, each file read first by one reader and then, from
        // the cache, by the other, which goes first alternating from file to file.
        Console.WriteLine($"per DLL, the whole set, median of {rounds} rounds: over Tavbin " +
                          $"{Median(roundTavbin) * us / files.Count:F1} us, over BinaryPrimitives " +
                          $"{Median(roundSpan) * us / files.Count:F1} us, ratio {Median(roundRatios):F2} " +
                          $"(rounds' ratios {roundRatios.Min():F2} to {roundRatios.Max():F2})");
        return 0;
    }
}
