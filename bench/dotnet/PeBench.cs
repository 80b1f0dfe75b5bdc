// The PE export readers of PeExports.cs side by side:
//   dotnet run -c Release -- pe [--rounds N] [--limit N] DIR_OR_FILE...
//   dotnet run -c Release -- pe --show FILE     one DLL's exports, as both readers give them
// takes every *.dll under the paths, reads each with both readers, fails if any
// result differs (the same exports, or both refusing the file), then times both over
// the whole set, interleaved round by round, and prints the median time per DLL of
// each and their ratio. --rounds 1 --limit 20 is the smoke run: it proves both agree
// and run, and measures nothing.
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

    static double Time(Func<byte[], Exports> read, List<byte[]> files)
    {
        var clock = Stopwatch.StartNew();
        int n = 0;
        foreach (byte[] f in files)
        {
            try
            {
                if (read(f) != null)
                    n++;
            }
            catch (Exception e) when (e is FormatException || e is Tavbin.TavbinException || e is ArgumentOutOfRangeException
                                      || e is OverflowException)
            {
            }
        }
        clock.Stop();
        GC.KeepAlive(n);
        return clock.Elapsed.TotalMilliseconds * 1000 / files.Count;
    }

    static double Median(List<double> v)
    {
        var s = v.OrderBy(x => x).ToList();
        return s.Count % 2 == 1 ? s[s.Count / 2] : (s[s.Count / 2 - 1] + s[s.Count / 2]) / 2;
    }

    public static int Run(string[] args)
    {
        int rounds = 21, limit = int.MaxValue;
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
        var tavbin = new List<double>();
        var span = new List<double>();
        var ratios = new List<double>();
        for (int round = 0; round < rounds + 2; round++)
        {
            // Which goes first alternates; the first two rounds warm up the JIT.
            double t, s;
            if (round % 2 == 0) { t = Time(TavbinPe.Read, files); s = Time(SpanPe.Read, files); }
            else { s = Time(SpanPe.Read, files); t = Time(TavbinPe.Read, files); }
            if (round < 2)
                continue;
            tavbin.Add(t);
            span.Add(s);
            ratios.Add(t / s);
        }
        if (rounds < 3)
        {
            Console.WriteLine("pe: both readers ran (smoke run, nothing measured)");
            return 0;
        }
        Console.WriteLine($"per DLL, median of {rounds} interleaved rounds: over Tavbin {Median(tavbin):F1} us, " +
                          $"over BinaryPrimitives {Median(span):F1} us, ratio {Median(ratios):F2} " +
                          $"(rounds' ratios {ratios.Min():F2} to {ratios.Max():F2})");
        return 0;
    }
}
