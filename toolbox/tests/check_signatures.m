function check_signatures (mex_dir)
  % Checks functionSignatures.json beside the modules: it parses, declares
  % a schema version, and describes function_Varnets(A, W, T, OPTIONS...)
  % -> B with A required, W, T optional and the options repeating, as the
  % help text's synopsis names them.
  % Raises an error on the first fault.
  s = jsondecode (fileread (fullfile (mex_dir, "functionSignatures.json")));
  names = fieldnames (s);
  if (! any (ismember ({"_schemaVersion", "x_schemaVersion"}, names)))
    error ("no _schemaVersion in functionSignatures.json");
  end
  if (! isfield (s, "function_Varnets"))
    error ("functionSignatures.json does not describe function_Varnets: %s", strjoin (names', ", "));
  end
  inputs = s.function_Varnets.inputs;
  outputs = s.function_Varnets.outputs;
  % Objects with different fields decode to a cell array of structs.
  if (isstruct (inputs))
    inputs = num2cell (inputs);
  end
  if (! iscell (inputs) || ! all (cellfun (@(x) isstruct (x) && isfield (x, "name") && isfield (x, "kind"), inputs)) || ! isstruct (outputs))
    error ("inputs and outputs must be arrays of objects with a name and a kind");
  end
  got = cellfun (@(x) x.name, inputs, "UniformOutput", false);
  kinds = cellfun (@(x) x.kind, inputs, "UniformOutput", false);
  got = got(:)';
  kinds = kinds(:)';
  if (! isequal (got, {"A", "W", "T", "OPTIONS"}))
    error ("inputs are %s, not A, W, T, OPTIONS", strjoin (got, ", "));
  end
  if (! isequal (kinds, {"required", "optional", "optional", "optional"}))
    error ("input kinds are %s", strjoin (kinds, ", "));
  end
  last = inputs{end};
  if (! isfield (last, "repeating") || ! isequal (last.repeating, true))
    error ("OPTIONS must be repeating");
  end
  choices = regexp (last.type{end}, "'(\\w+)'", "tokens");
  if (! isequal ([choices{:}], {"replicate", "symmetric", "circular", "zeros", "indexed", "omitnan", "includenan"}))
    error ("OPTIONS choices are %s", last.type{end});
  end
  got{end} = "OPTIONS...";
  if (! isequal ({outputs.name}, {"B"}))
    error ("outputs are %s, not B", strjoin ({outputs.name}, ", "));
  end
  % The same names in the same order as the help text's synopsis.
  synopsis = sprintf ("%s = FUNCTION_VARNETS(%s)", outputs.name, strjoin (got, ", "));
  if (isempty (strfind (fileread (fullfile (mex_dir, "function_Varnets.m")), synopsis)))
    error ("the help text has no '%s'", synopsis);
  end
  printf ("ok      functionSignatures.json: %s\n", synopsis);
end
