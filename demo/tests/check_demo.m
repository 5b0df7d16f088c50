function failures = check_demo (out_dir)
  % Runs the demo on the shipped photographs and checks what it reports and
  % writes. Returns the failure count.
  failures = 0;
  passed = 0;
  results = demo_function_Varnets ("", out_dir);
  for r = results
    problems = {};
    if (! r.same_as_medfilt2)
      problems{end + 1} = "median differs from medfilt2";
    end
    if (! r.same_as_sorted)
      problems{end + 1} = "weighted median differs from sorting";
    end
    % 10% salt and pepper: either filter must gain a lot over the noisy image.
    if (! (r.psnr_median > r.psnr_noisy + 8 && r.psnr_weighted > r.psnr_noisy + 8))
      problems{end + 1} = sprintf ("PSNR %.1f / %.1f dB against %.1f dB noisy", ...
                                   r.psnr_median, r.psnr_weighted, r.psnr_noisy);
    end
    for f = r.files
      if (! exist (f{1}, "file"))
        problems{end + 1} = ["missing " f{1}];
        continue;
      end
      picture = imread (f{1});
      % four panels and three 4-pixel gaps side by side
      if (mod (columns (picture) - 12, 4) != 0 || ! any (size (picture, 3) == [1 3]))
        problems{end + 1} = sprintf ("%s is %s", f{1}, mat2str (size (picture)));
      end
    end
    if (isempty (problems))
      passed++;
      printf ("ok      demo case %s\n", r.label);
    else
      failures++;
      printf ("FAILED  demo case %s: %s\n", r.label, strjoin (problems, "; "));
    end
  end
  if (numel (results) != 3)
    failures++;
    printf ("FAILED  expected 3 demo cases, got %d\n", numel (results));
  end
  % An image smaller than the window: filtered, compared with sorting only.
  tiny = fullfile (out_dir, "tiny.png");
  imwrite (uint8 (reshape (0:40:440, 2, 2, 3)), tiny);
  try
    small = demo_function_Varnets (tiny, out_dir);
    if (! all (arrayfun (@(r) isempty (r.same_as_medfilt2) && r.same_as_sorted, small)))
      error ("a 2x2 case compared with medfilt2 or differs from sorting");
    end
    passed++;
    printf ("ok      demo on a 2x2 image\n");
  catch err
    failures++;
    printf ("FAILED  demo on a 2x2 image: %s\n", err.message);
  end_try_catch
  printf ("%d passed, %d failed\n", passed, failures);
end
