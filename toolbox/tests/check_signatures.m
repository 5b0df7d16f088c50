function check_signatures (mex_dir)
  % Checks functionSignatures.json beside the modules: it parses, declares
  % a schema version, and describes function_Varnets(A, W, T) -> B with A
  % required and W, T optional, as the help text's synopsis names them.
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
  if (! isstruct (inputs) || ! isstruct (outputs))
    error ("inputs and outputs must be arrays of objects with the same fields");
  end
  got = {inputs.name};
  if (! isequal (got, {"A", "W", "T"}))
    error ("inputs are %s, not A, W, T", strjoin (got, ", "));
  end
  if (! isequal ({inputs.kind}, {"required", "optional", "optional"}))
    error ("input kinds are %s", strjoin ({inputs.kind}, ", "));
  end
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
